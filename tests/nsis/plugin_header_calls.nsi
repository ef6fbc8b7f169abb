; Uses Plugin.dll through Plugin.nsh, beside NSIS's own headers, and makes
; the raw call each macro wraps next to it. Every macro call is checked as
; plugin_header_checks.nsh describes; the raw call's answer follows on a line
; of its own.
;
; Defines: PLUGIN_DIR, OUT_FILE, RESULT_FILE, KEY (below HKLM), SELF (this
; installer's file name), WORK_DIR (Windows path of a scratch folder),
; NAME260 and NAME261 (process names of 260 and 261 characters).
!include "${__FILEDIR__}/installer_target.nsh"
; No !addplugindir: the header finds Plugin.dll beside itself.
!addincludedir "${PLUGIN_DIR}"
!include LogicLib.nsh
!include Plugin.nsh
!include x64.nsh
!include WinVer.nsh
!include Plugin.nsh
Name "plugin header"
OutFile "${OUT_FILE}"
RequestExecutionLevel admin
SilentInstall silent

!include "${__FILEDIR__}/plugin_header_checks.nsh"

Var Raw

; After a raw call made with $R0 set to "keep": its answer, and the texts it
; left on the stack (taken off here).
!macro Raw NAME
  StrCpy $Raw $R0
  !insertmacro EmptyStackInto $Found
  FileWriteUTF16LE $Log "${NAME} raw=[$Raw] left=$Found$\r$\n"
!macroend

!macro FindProcCase NAME PROCESS
  !insertmacro Before
  ${FindProc} `${PROCESS}` $Out
  !insertmacro After ${NAME} - $Out
  StrCpy $R0 "keep"
  Plugin::FindProc `${PROCESS}`
  !insertmacro Raw ${NAME}
!macroend

; RAWVIEWS is the views text written as raw arguments.
!macro WriteCase NAME EXPORT VIEWS RAWVIEWS VALUE DATA
  !insertmacro Before
  ${Plugin${EXPORT}} `${VIEWS}` HKLM "${KEY}\Header\Values" `${VALUE}` `${DATA}` $Out
  !insertmacro After ${NAME} - $Out
  StrCpy $R0 "keep"
  Plugin::${EXPORT} ${RAWVIEWS} HKLM "${KEY}\Raw\Values" `${VALUE}` `${DATA}` "end"
  !insertmacro Raw ${NAME}
!macroend

!macro DeleteValueCase NAME VIEWS RAWVIEWS VALUE
  !insertmacro Before
  ${PluginDeleteRegValue} `${VIEWS}` HKLM "${KEY}\Header\Doomed" `${VALUE}` $Out
  !insertmacro After ${NAME} - $Out
  StrCpy $R0 "keep"
  Plugin::DeleteRegValue ${RAWVIEWS} HKLM "${KEY}\Raw\Doomed" `${VALUE}` "end"
  !insertmacro Raw ${NAME}
!macroend

!macro DeleteKeyCase NAME VIEWS RAWVIEWS SUBKEY
  !insertmacro Before
  ${PluginDeleteRegKey} `${VIEWS}` HKLM "${KEY}\Header\${SUBKEY}" $Out
  !insertmacro After ${NAME} - $Out
  StrCpy $R0 "keep"
  Plugin::DeleteRegKey ${RAWVIEWS} HKLM "${KEY}\Raw\${SUBKEY}" "end"
  !insertmacro Raw ${NAME}
!macroend

!macro RWCreateCase NAME KIND PATH RAWPATH
  !insertmacro Before
  ${RWCreate} `${KIND}` `${PATH}` $Out
  !insertmacro After ${NAME} - $Out
  StrCpy $R0 "keep"
  Plugin::RWCreate `${KIND}` `${RAWPATH}`
  !insertmacro Raw ${NAME}
!macroend

; What the deletes work on, in both views, under the header's and the raw
; calls' keys alike (on 32-bit Windows both views are the one registry).
!macro DeleteFixtures VIEW
  SetRegView ${VIEW}
  !insertmacro DeleteFixturesUnder Header
  !insertmacro DeleteFixturesUnder Raw
  SetRegView lastused
!macroend
!macro DeleteFixturesUnder TREE
  WriteRegStr HKLM "${KEY}\${TREE}\Doomed" "V86" "x"
  WriteRegStr HKLM "${KEY}\${TREE}\Doomed" "V64" "x"
  WriteRegStr HKLM "${KEY}\${TREE}\Doomed" "VBoth" "x"
  WriteRegStr HKLM "${KEY}\${TREE}\Doomed" "VKept" "x"
  WriteRegStr HKLM "${KEY}\${TREE}\K86" "V" "x"
  WriteRegStr HKLM "${KEY}\${TREE}\K64" "V" "x"
  WriteRegStr HKLM "${KEY}\${TREE}\KBoth" "V" "x"
  WriteRegStr HKLM "${KEY}\${TREE}\Tree\Child" "V" "x"
!macroend

Section
  FileOpen $Log "${RESULT_FILE}" w
  FileWriteUTF16LE /BOM $Log "start$\r$\n"

  ; Conditions.
  !insertmacro ConditionCase if_running ProcessRunning "${SELF}"
  StrCpy $R0 "keep"
  Plugin::FindProc "${SELF}"
  !insertmacro Raw if_running
  !insertmacro ConditionCase if_not_running ProcessRunning "no-such-program.exe"
  StrCpy $R0 "keep"
  Plugin::FindProc "no-such-program.exe"
  !insertmacro Raw if_not_running
  !insertmacro ConditionCase if_name261 ProcessRunning "${NAME261}"
  StrCpy $R0 "keep"
  Plugin::FindProc "${NAME261}"
  !insertmacro Raw if_name261
  !insertmacro ConditionCase if_64bit Supports64Bit ""
  StrCpy $R0 "keep"
  Plugin::IsSupport64
  !insertmacro Raw if_64bit

  ; The header's own names in one chain, with NSIS's conditions between.
  !insertmacro Before
  ${If} ${ProcessRunning} "no-such-program.exe"
    StrCpy $Out "first"
  ${ElseIf} ${Supports64Bit}
  ${AndIf} ${RunningX64}
  ${AndIf} ${ProcessRunning} "${SELF}"
    StrCpy $Out "64-bit"
  ${ElseIf} ${AtLeastWinXP}
  ${AndIfNot} ${Supports64Bit}
  ${AndIf} ${ProcessRunning} "${SELF}"
    StrCpy $Out "32-bit"
  ${Else}
    StrCpy $Out "none"
  ${EndIf}
  !insertmacro After chain - $Out

  ; FindProc and GetSysVersion.
  !insertmacro FindProcCase find_self "${SELF}"
  !insertmacro FindProcCase find_missing "no-such-program.exe"
  !insertmacro FindProcCase find_empty ""
  !insertmacro FindProcCase find_name260 "${NAME260}"
  !insertmacro FindProcCase find_name261 "${NAME261}"
  !insertmacro Before
  ${FindProc} "${SELF}" $R0
  !insertmacro After find_into_r0 R0 $R0
  ; An error flag the script had set stays set.
  !insertmacro Before
  SetErrors
  ${FindProc} "${SELF}" $Out
  !insertmacro After flag_kept - $Out

  !insertmacro Before
  ${GetSysVersion} $Out
  !insertmacro After version - $Out
  StrCpy $R0 "keep"
  Plugin::GetSysVersion
  !insertmacro Raw version
  !insertmacro Before
  ${GetSysVersion} $R0
  !insertmacro After version_into_r0 R0 $R0

  ; RWCreate. The file case names its file through $R0, which the macro
  ; must read before it uses $R0 itself.
  !insertmacro RWCreateCase dir_new DIR "${WORK_DIR}\header-dir" "${WORK_DIR}\raw-dir"
  !insertmacro RWCreateCase dir_again DIR "${WORK_DIR}\header-dir" "${WORK_DIR}\raw-dir"
  !insertmacro RWCreateCase file_named_by_r0 FILE "${WORK_DIR}\header-$R0.dat" "${WORK_DIR}\raw.dat"
  !insertmacro RWCreateCase file_no_parent FILE "${WORK_DIR}\missing\header.dat" "${WORK_DIR}\missing\raw.dat"
  !insertmacro RWCreateCase kind_lower_case dir "${WORK_DIR}\header-lower" "${WORK_DIR}\raw-lower"

  ; Writes, with every views text.
  !insertmacro WriteCase str_x86 WriteRegStr "/x86" `/x86` "S86" "a"
  !insertmacro WriteCase str_x64 WriteRegStr "/x64" `/x64` "S64" "b"
  !insertmacro WriteCase str_both WriteRegStr "/x86 /x64" `/x86 /x64` "SBoth" "c"
  !insertmacro WriteCase dword_x86 WriteRegDWORD "/X86" `/X86` "D86" "42"
  !insertmacro WriteCase dword_x64 WriteRegDWORD "/x64" `/x64` "D64" "7"
  !insertmacro WriteCase dword_both WriteRegDWORD "/x64 /x86" `/x64 /x86` "DBoth" "-1"
  !insertmacro WriteCase bin_x86 WriteRegBin "/x86" `/x86` "B86" "0A1b"
  !insertmacro WriteCase bin_x64 WriteRegBin "/x64" `/x64` "B64" "FF"
  !insertmacro WriteCase bin_both WriteRegBin " /x86  /x64 " `/x86 /x64` "BBoth" "1F3"
  ; Data that looks like the end marker is data like any other.
  !insertmacro WriteCase str_data_end WriteRegStr "/x86" `/x86` "End" "end"
  ; Views and data named through the registers the macros work with.
  !insertmacro Before
  StrCpy $R2 "/x86"
  !insertmacro Snapshot
  ${PluginWriteRegStr} $R2 HKLM "${KEY}\Header\Values" "FromR1" "$R1" $Out
  !insertmacro After str_from_registers - $Out
  ; Refused.
  !insertmacro WriteCase views_empty WriteRegStr "" `""` "Refused1" "x"
  !insertmacro WriteCase views_unknown WriteRegStr "/x32" `/x32` "Refused2" "x"
  !insertmacro WriteCase views_half_known WriteRegDWORD "/x86 /x32" `"/x86 /x32"` "Refused3" "1"
  !insertmacro WriteCase data_empty WriteRegStr "/x86" `/x86` "Refused4" ""
  !insertmacro WriteCase name_empty WriteRegBin "/x86" `/x86` "" "00"
  !insertmacro Before
  ${PluginWriteRegStr} "/x86" HKEY_LOCAL_MACHINE "${KEY}\Header\Values" "Refused5" "x" $Out
  !insertmacro After root_unknown - $Out
  StrCpy $R0 "keep"
  Plugin::WriteRegStr /x86 HKEY_LOCAL_MACHINE "${KEY}\Raw\Values" "Refused5" "x" "end"
  !insertmacro Raw root_unknown

  ; Deletes.
  !insertmacro DeleteFixtures 32
  !insertmacro DeleteFixtures 64
  !insertmacro DeleteValueCase value_x86 "/x86" `/x86` "V86"
  !insertmacro DeleteValueCase value_x64 "/x64" `/x64` "V64"
  !insertmacro DeleteValueCase value_both "/x86 /x64" `/x86 /x64` "VBoth"
  !insertmacro DeleteValueCase value_missing "/x86" `/x86` "NoSuchValue"
  !insertmacro DeleteValueCase value_ifempty "/x86 /ifempty" `"/x86 /ifempty"` "VKept"
  !insertmacro DeleteValueCase value_views_empty "" `""` "VKept"
  !insertmacro DeleteKeyCase key_x86 "/x86" `/x86` "K86"
  !insertmacro DeleteKeyCase key_x64 "/x64" `/x64` "K64"
  !insertmacro DeleteKeyCase key_both "/x86 /x64" `/x86 /x64` "KBoth"
  !insertmacro DeleteKeyCase key_subkeys "/x86 /x64" `/x86 /x64` "Tree"
  !insertmacro DeleteKeyCase key_subkeys_ifempty "/x86 /ifempty /x64" `/x86 /ifempty /x64` "Tree"
  !insertmacro DeleteKeyCase key_only_ifempty "/ifempty" `/ifempty` "Tree"
  !insertmacro DeleteKeyCase key_missing "/x86" `/x86` "NoSuchKey"
  ; The output in a register the macro works with.
  !insertmacro Before
  ${PluginDeleteRegKey} "/x86" HKLM "${KEY}\Header\NoSuchKey" $R1
  !insertmacro After key_missing_into_r1 R1 $R1
  !insertmacro Before
  ${PluginDeleteRegKey} "/x86" HKLM "" $Out
  !insertmacro After key_empty - $Out
  StrCpy $R0 "keep"
  Plugin::DeleteRegKey /x86 HKLM "" "end"
  !insertmacro Raw key_empty

  FileWriteUTF16LE $Log "done$\r$\n"
  FileClose $Log
SectionEnd

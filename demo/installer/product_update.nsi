; The update installer of the demo: what the token software's own installer
; does with Plugin.dll when Quillon has downloaded and started it.
;
; Quillon starts it without arguments, so it is silent by itself. It installs
; into the folder the installed product names (InstallPath), waits while the
; product's DLL is in use, then records the new version. Each step leaves a
; line in <install dir>\update.log (UTF-16), which the demo reads back.
;
; Defines (makensis -D): PLUGIN_DIR, OUT_FILE, NEW_VERSION, PRODUCT_DLL,
; PRODUCT_PROCESS.
Unicode true
; Plugin.nsh ships beside Plugin.dll and makes the DLL known itself.
!addincludedir "${PLUGIN_DIR}"
!include LogicLib.nsh
!include Plugin.nsh
!define PRODUCT_KEY "Software\Orvanta\58P7M_WRZ"

Name "Orvanta Token software, version ${NEW_VERSION}"
OutFile "${OUT_FILE}"
RequestExecutionLevel admin
SilentInstall silent
; The product's folder when the registry names none.
InstallDir "$PROGRAMFILES\Orvanta\Token"

Var log

!macro Log text
  FileWriteUTF16LE $log "${text}$\r$\n"
!macroend

Function .onInit
  ; A 32-bit installer reads the 32-bit view, where the product key lives.
  ReadRegStr $0 HKLM "${PRODUCT_KEY}" "InstallPath"
  StrCmp $0 "" +2
    StrCpy $INSTDIR $0
FunctionEnd

Section
  CreateDirectory "$INSTDIR"
  FileOpen $log "$INSTDIR\update.log" w
  FileWriteUTF16LE /BOM $log "started=${NEW_VERSION}$\r$\n"

  ${FindProc} "${PRODUCT_PROCESS}" $0
  !insertmacro Log "running_before=$0"

  ; Replacing the product's files while the product runs would fail: hold the
  ; installation, with a Retry/Cancel box, until nobody has the DLL loaded.
  ${WaitUntilDllFree} "$INSTDIR\${PRODUCT_DLL}"
  ${FindProc} "${PRODUCT_PROCESS}" $0
  !insertmacro Log "running_after=$0"
  ${If} $0 != "0"
    ; Cancel on the box: leave the installed version as it is.
    !insertmacro Log "finished=cancelled"
    FileClose $log
    Abort
  ${EndIf}

  ${GetSysVersion} $0
  !insertmacro Log "windows=$0"
  ${If} ${Supports64Bit}
    !insertmacro Log "windows_64bit=1"
  ${Else}
    !insertmacro Log "windows_64bit=0"
  ${EndIf}

  ; The new files. A real installer would put the product here.
  FileOpen $2 "$INSTDIR\version.txt" w
  FileWrite $2 "${NEW_VERSION}$\r$\n"
  FileClose $2

  ; Quillon reads the 32-bit view: the new version goes there. InstallPath
  ; also goes to the 64-bit view, for the product's 64-bit parts; on 32-bit
  ; Windows the header writes the one registry there is.
  ${PluginWriteRegDWORD} "/x86" HKLM "${PRODUCT_KEY}" "DisplayVersion" "${NEW_VERSION}" $0
  ${PluginWriteRegStr} "/x86 /x64" HKLM "${PRODUCT_KEY}" "InstallPath" "$INSTDIR" $0
  ; The value older versions used is gone from this version on.
  ${PluginDeleteRegValue} "/x86" HKLM "${PRODUCT_KEY}" "LegacyChannel" $0
  !insertmacro Log "legacy_value_deleted=$0"

  ; Data every user of the machine shares with the token service.
  SetShellVarContext all
  CreateDirectory "$APPDATA\Orvanta"
  ${RWCreate} DIR "$APPDATA\Orvanta\TokenShared" $0
  !insertmacro Log "shared_dir=$APPDATA\Orvanta\TokenShared"
  !insertmacro Log "shared_dir_created=$0"

  !insertmacro Log "finished=${NEW_VERSION}"
  FileClose $log
SectionEnd

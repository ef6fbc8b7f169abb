; Every condition and macro of the header once, each checked as
; plugin_header_checks.nsh describes, for a plug-in folder whose Plugin.dll
; NSIS may be unable to load (PLUGIN_DIR holds the test build that fails to
; load while QUILLON_TEST_PLUGIN_LOAD_FAILS is set, and a copy of Plugin.nsh).
;
; Defines: PLUGIN_DIR, OUT_FILE, RESULT_FILE, KEY (below HKCU), WORK_DIR
; (Windows path of a scratch folder), SELF (this installer's file name).
!include "${__FILEDIR__}/installer_target.nsh"
!addincludedir "${PLUGIN_DIR}"
!include Plugin.nsh
Name "plugin header failed load"
OutFile "${OUT_FILE}"
RequestExecutionLevel user
SilentInstall silent

!include "${__FILEDIR__}/plugin_header_checks.nsh"

Section
  FileOpen $Log "${RESULT_FILE}" w
  FileWriteUTF16LE /BOM $Log "start$\r$\n"

  !insertmacro ConditionCase if_running ProcessRunning "${SELF}"
  !insertmacro ConditionCase if_64bit Supports64Bit ""

  !insertmacro Before
  ${FindProc} "${SELF}" $Out
  !insertmacro After find - $Out
  !insertmacro Before
  ${FindProc} "${SELF}" $R0
  !insertmacro After find_into_r0 R0 $R0
  !insertmacro Before
  ${GetSysVersion} $Out
  !insertmacro After version - $Out
  !insertmacro Before
  ${RWCreate} DIR "${WORK_DIR}\dir" $Out
  !insertmacro After dir - $Out
  !insertmacro Before
  ${RWCreate} FILE "${WORK_DIR}\file.dat" $Out
  !insertmacro After file - $Out

  !insertmacro Before
  ${PluginWriteRegStr} "/x86" HKCU "${KEY}" "Str" "text" $Out
  !insertmacro After str - $Out
  !insertmacro Before
  ${PluginWriteRegDWORD} "/x86 /x64" HKCU "${KEY}" "Dword" "7" $Out
  !insertmacro After dword - $Out
  !insertmacro Before
  ${PluginWriteRegBin} "/x64" HKCU "${KEY}" "Bin" "0A" $Out
  !insertmacro After bin - $Out
  !insertmacro Before
  ${PluginDeleteRegValue} "/x86" HKCU "${KEY}" "Kept" $Out
  !insertmacro After value - $Out
  !insertmacro Before
  ${PluginDeleteRegKey} "/x86 /ifempty" HKCU "${KEY}" $R1
  !insertmacro After key_into_r1 R1 $R1

  !insertmacro Before
  ${WaitUntilDllFree} "${WORK_DIR}\NobodyHolds.dll"
  !insertmacro After wait - ""

  FileWriteUTF16LE $Log "done$\r$\n"
  FileClose $Log
SectionEnd

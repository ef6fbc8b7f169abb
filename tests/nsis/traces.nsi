; Calls registry exports whose traces are known text for text, for a
; debug-output viewer to read. KEY is the test key below HKCU.
!include "${__FILEDIR__}/installer_target.nsh"
!addplugindir /x86-unicode "${PLUGIN_DIR}"
!addplugindir /amd64-unicode "${PLUGIN_DIR}/amd64-unicode"
Name "traces"
OutFile "${OUT_FILE}"
RequestExecutionLevel user
SilentInstall silent

Section
  FileOpen $9 "${RESULT_FILE}" w
  FileWriteUTF16LE /BOM $9 "start$\r$\n"
  Plugin::WriteRegStr /x86 HKCU "${KEY}" "V" "text" "end"
  ; Empty data: the parameter error.
  Plugin::WriteRegStr /x86 HKCU "${KEY}" "V" "" "end"
  Plugin::DeleteRegValue /x86 HKCU "${KEY}" "V" "end"
  FileWriteUTF16LE $9 "delete=[$R0]$\r$\n"
  DeleteRegKey HKCU "${KEY}"
  FileWriteUTF16LE $9 "done$\r$\n"
  FileClose $9
SectionEnd

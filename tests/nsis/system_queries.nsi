; Calls the system queries as an installer script would and writes the
; answers to RESULT_FILE.
!include "${__FILEDIR__}/installer_target.nsh"
!addplugindir /x86-unicode "${PLUGIN_DIR}"
!addplugindir /amd64-unicode "${PLUGIN_DIR}/amd64-unicode"
Name "system queries"
OutFile "${OUT_FILE}"
RequestExecutionLevel user
SilentInstall silent

Section
  StrCpy $R0 "not called"
  Plugin::GetSysVersion
  StrCpy $0 $R0
  StrCpy $R0 "not called"
  Plugin::IsSupport64
  FileOpen $9 "${RESULT_FILE}" w
  FileWriteUTF16LE /BOM $9 "version=[$0]$\r$\n"
  FileWriteUTF16LE $9 "support64=[$R0]$\r$\n"
  FileClose $9
SectionEnd

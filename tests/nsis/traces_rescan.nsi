; Waits with GetDllOwnerProcName while a program holds HELD_DLL: the test
; starts a debug-output viewer while the Retry/Cancel box is shown, ends the
; holder and presses Retry. RESULT_FILE gets this process's id, for telling
; its traces apart, and "done" at the end.
!include "${__FILEDIR__}/installer_target.nsh"
!addplugindir /x86-unicode "${PLUGIN_DIR}"
!addplugindir /amd64-unicode "${PLUGIN_DIR}/amd64-unicode"
Name "traces rescan"
OutFile "${OUT_FILE}"
RequestExecutionLevel user
SilentInstall silent

Section
  FileOpen $9 "${RESULT_FILE}" w
  System::Call "kernel32::GetCurrentProcessId() i .r0"
  FileWriteUTF16LE /BOM $9 "pid=$0$\r$\n"
  Plugin::GetDllOwnerProcName "${HELD_DLL}"
  FileWriteUTF16LE $9 "done$\r$\n"
  FileClose $9
SectionEnd

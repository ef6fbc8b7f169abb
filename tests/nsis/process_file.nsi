; Uses FindProc, GetDllOwnerProcName and RWCreate as an installer script
; would: checks for a running program (and OTHER_PROGRAM, when defined),
; waits while a program holds a DLL, then creates a shared directory and
; file. Answers go to RESULT_FILE; a marker file tells the test when the
; installer reaches the DLL question.
!include "${__FILEDIR__}/installer_target.nsh"
!addplugindir /x86-unicode "${PLUGIN_DIR}"
!addplugindir /amd64-unicode "${PLUGIN_DIR}/amd64-unicode"
Name "process and file utilities"
OutFile "${OUT_FILE}"
RequestExecutionLevel user
SilentInstall silent

Section
  Plugin::FindProc "${RUNNING_PROGRAM}"
  StrCpy $0 $R0
  Plugin::FindProc "no-such-program.exe"
  StrCpy $1 $R0
  !ifdef OTHER_PROGRAM
    Plugin::FindProc "${OTHER_PROGRAM}"
    StrCpy $6 $R0
  !endif

  FileOpen $9 "${WAITING_FILE}" w
  FileClose $9
  StrCpy $R0 "untouched"
  Plugin::GetDllOwnerProcName "${HELD_DLL}"
  StrCpy $2 $R0

  Plugin::RWCreate DIR "${SHARED_DIR}"
  StrCpy $3 $R0
  Plugin::RWCreate FILE "${SHARED_DIR}\shared.txt"
  StrCpy $4 $R0
  Plugin::RWCreate FILE "${SHARED_DIR}\missing\shared.txt"
  StrCpy $5 $R0

  FileOpen $9 "${RESULT_FILE}" w
  FileWriteUTF16LE /BOM $9 "running=[$0]$\r$\n"
  FileWriteUTF16LE $9 "missing=[$1]$\r$\n"
  !ifdef OTHER_PROGRAM
    FileWriteUTF16LE $9 "other=[$6]$\r$\n"
  !endif
  FileWriteUTF16LE $9 "owner=[$2]$\r$\n"
  FileWriteUTF16LE $9 "dir=[$3]$\r$\n"
  FileWriteUTF16LE $9 "file=[$4]$\r$\n"
  FileWriteUTF16LE $9 "parentless=[$5]$\r$\n"
  FileClose $9
SectionEnd

; ${WaitUntilDllFree} with paths, as scripts name their DLLs: first a DLL
; nobody holds (the call returns at once), then, once WAITING_FILE is
; written, a DLL that a running program holds, named by a path with
; backslashes and then by one with forward slashes. Each of these two shows
; the Retry/Cancel box until the test answers it.
;
; Defines: PLUGIN_DIR, OUT_FILE, RESULT_FILE, WAITING_FILE, FREE_DLL,
; HELD_DLL and HELD_DLL_SLASHES (paths).
!include "${__FILEDIR__}/installer_target.nsh"
!addincludedir "${PLUGIN_DIR}"
!include Plugin.nsh
Name "plugin header wait"
OutFile "${OUT_FILE}"
RequestExecutionLevel user
SilentInstall silent

!include "${__FILEDIR__}/plugin_header_checks.nsh"

Section
  FileOpen $Log "${RESULT_FILE}" w
  FileWriteUTF16LE /BOM $Log "start$\r$\n"

  !insertmacro Before
  ${WaitUntilDllFree} "${FREE_DLL}"
  !insertmacro After free - ""

  FileOpen $Item "${WAITING_FILE}" w
  FileClose $Item
  !insertmacro Before
  ${WaitUntilDllFree} "${HELD_DLL}"
  ${WaitUntilDllFree} "${HELD_DLL_SLASHES}"
  !insertmacro After held - ""

  FileWriteUTF16LE $Log "done$\r$\n"
  FileClose $Log
SectionEnd

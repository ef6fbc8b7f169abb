; Calls every export of the plug-in many times in one installer, as install
; scripts do, and writes to RESULT_FILE its $PLUGINSDIR, in how many rounds
; Plugin.dll was still loaded after the round's calls, and the answers of the
; last round. KEY is the test key below HKLM and HKCU.
!include "${__FILEDIR__}/installer_target.nsh"
!addplugindir /x86-unicode "${PLUGIN_DIR}"
!addplugindir /amd64-unicode "${PLUGIN_DIR}/amd64-unicode"
!include x64.nsh
Name "staying-loaded"
OutFile "${OUT_FILE}"
RequestExecutionLevel admin
SilentInstall silent

!define ROUNDS 20

Var Round
Var Loaded

Section
  FileOpen $9 "${RESULT_FILE}" w
  FileWriteUTF16LE /BOM $9 "start$\r$\n"
  InitPluginsDir
  FileWriteUTF16LE $9 "pluginsdir=$PLUGINSDIR$\r$\n"

  StrCpy $Round 0
  StrCpy $Loaded 0
  round:
    Plugin::WriteRegStr /x86 HKCU "${KEY}\Sub" "Str" "text $Round" "end"
    Plugin::WriteRegDWORD /x86 HKCU "${KEY}\Sub" "Dword" "$Round" "end"
    Plugin::WriteRegBin /x86 HKCU "${KEY}\Sub" "Bin" "0A1B" "end"
    Plugin::DeleteRegValue /x86 HKCU "${KEY}\Sub" "Str" "end"
    StrCpy $1 "$R0"
    Plugin::DeleteRegKey /x86 HKCU "${KEY}\Sub" "end"
    StrCpy $2 "$R0"
    Plugin::IsSupport64
    StrCpy $3 "$R0"
    Plugin::GetSysVersion
    StrCpy $4 "$R0"
    Plugin::FindProc "no-such-program.exe"
    StrCpy $5 "$R0"
    ; A file held open past the call would keep $PLUGINSDIR from going.
    Plugin::RWCreate FILE "$PLUGINSDIR\shared.txt"
    StrCpy $6 "$R0"
    System::Call 'kernel32::GetModuleHandleW(w "$PLUGINSDIR\Plugin.dll") p.r7'
    StrCmp $7 0 +2
    IntOp $Loaded $Loaded + 1
    IntOp $Round $Round + 1
    IntCmp $Round ${ROUNDS} 0 round 0
  FileWriteUTF16LE $9 "loaded_rounds=$Loaded of ${ROUNDS}$\r$\n"
  FileWriteUTF16LE $9 "answers=[$1] [$2] [$3] [$4] [$5] [$6]$\r$\n"

  ; One scan for a DLL nobody holds: no prompt.
  Plugin::GetDllOwnerProcName "no-such-module.dll"

  ; The 64-bit delete with file-system redirection turned off around it. The
  ; key is written in the 64-bit view; on 32-bit Windows, in the one registry,
  ; where "/x64" deletes nothing.
  ${If} ${RunningX64}
    SetRegView 64
  ${EndIf}
  WriteRegStr HKLM "${KEY}\Redirected" "V" "x"
  ${DisableX64FSRedirection}
  Plugin::DeleteRegKey /x64 HKLM "${KEY}\Redirected" "end"
  StrCpy $1 "$R0"
  ${EnableX64FSRedirection}
  ClearErrors
  ReadRegStr $2 HKLM "${KEY}\Redirected" "V"
  StrCpy $3 "left"
  IfErrors 0 +2
  StrCpy $3 "gone"
  SetRegView 32
  FileWriteUTF16LE $9 "redirected_delete=[$1] $3$\r$\n"

  SetRegView 64
  DeleteRegKey HKLM "${KEY}"
  SetRegView 32
  DeleteRegKey HKLM "${KEY}"
  DeleteRegKey HKCU "${KEY}"
  FileWriteUTF16LE $9 "done$\r$\n"
  FileClose $9
SectionEnd

; Calls the five registry exports as an installer script would, and writes
; every $R0 answer, with the number of texts the call left on the stack, to
; RESULT_FILE. KEY is the test key below HKLM, LONGNAME a key name longer
; than the registry allows.
!include "${__FILEDIR__}/installer_target.nsh"
!addplugindir /x86-unicode "${PLUGIN_DIR}"
!addplugindir /amd64-unicode "${PLUGIN_DIR}/amd64-unicode"
Name "registry"
OutFile "${OUT_FILE}"
RequestExecutionLevel admin
SilentInstall silent

Var Left

; Takes whatever a call left behind off the stack, counting it, so that one
; call's leftovers never become the next call's arguments.
Function DrainStack
  StrCpy $Left 0
  loop:
    ClearErrors
    Pop $8
    IfErrors done
    IntOp $Left $Left + 1
    Goto loop
  done:
FunctionEnd

!macro Record NAME
  Call DrainStack
  FileWriteUTF16LE $9 "${NAME}=[$R0] left=$Left$\r$\n"
  StrCpy $R0 "keep"
!macroend

Section
  FileOpen $9 "${RESULT_FILE}" w
  FileWriteUTF16LE /BOM $9 "start$\r$\n"
  StrCpy $R0 "keep"

  ; Writes.
  Plugin::WriteRegStr /x86 /x64 HKLM "${KEY}\Str" "Path" "C:\A" "end"
  !insertmacro Record str_both
  Plugin::WriteRegStr /x64 HKLM "${KEY}\Only64" "V" "x" "end"
  !insertmacro Record str_only64
  Plugin::WriteRegDWORD /X86 hklm "${KEY}\Num" "Neg" "-1" "end"
  !insertmacro Record dword_neg
  Plugin::WriteRegDWORD HKLM "${KEY}\Num" /x86 "Wrap" "4294967338" "end"
  !insertmacro Record dword_wrap
  Plugin::WriteRegDWORD /x86 HKLM "${KEY}\Num" "Text" "12ab" "end"
  !insertmacro Record dword_text
  Plugin::WriteRegBin /x86 HKLM "${KEY}\Bin" "Odd" "1F3" "end"
  !insertmacro Record bin_odd
  Plugin::WriteRegBin /x86 HKLM "${KEY}\Bin" "Bad" "0G" "end"
  !insertmacro Record bin_bad
  Plugin::WriteRegStr /x86 HKLM "${KEY}\Num" "Text" "now text" "end"
  !insertmacro Record str_retype

  ; Writes refused or failing.
  Plugin::WriteRegStr /x86 HKLM "${KEY}\Empty" "V" "" "end"
  !insertmacro Record str_empty_data
  Plugin::WriteRegDWORD /x86 HKLM "${KEY}\Empty" "" "1" "end"
  !insertmacro Record dword_empty_name
  Plugin::WriteRegStr /x86 HKEY_LOCAL_MACHINE "${KEY}\Spelled" "V" "x" "end"
  !insertmacro Record str_spelled_root
  Plugin::WriteRegStr /x86 "HKLM " "${KEY}\Blank" "V" "x" "end"
  !insertmacro Record str_blank_root
  Plugin::WriteRegStr /x86 HKLM "${KEY}\${LONGNAME}" "V" "x" "end"
  !insertmacro Record str_refused_key
  Plugin::WriteRegStr HKLM "${KEY}\NoView" "V" "x" "end"
  !insertmacro Record str_no_view

  ; A key with a sub-key in each view, a value in each view.
  Plugin::WriteRegStr /x86 HKLM "${KEY}\Tree\Child" "V" "x" "end"
  Plugin::WriteRegStr /x64 HKLM "${KEY}\Tree\Child" "V" "x" "end"
  Plugin::WriteRegStr /x86 HKLM "${KEY}\Val" "V" "x" "end"
  Plugin::WriteRegStr /x86 HKLM "${KEY}\Val" "Keep" "x" "end"
  Plugin::WriteRegStr /x64 HKLM "${KEY}\Val" "V" "x" "end"
  !insertmacro Record setup

  ; Deletes.
  Plugin::DeleteRegKey /x86 /x64 HKLM "${KEY}\Tree" "end"
  !insertmacro Record key_with_subkeys
  Plugin::DeleteRegKey /x86 /x64 /ifempty HKLM "${KEY}\Tree" "end"
  !insertmacro Record key_with_subkeys_ifempty
  Plugin::DeleteRegKey /x64 /x86 HKLM "${KEY}\Tree\Child" "end"
  !insertmacro Record key_child
  Plugin::DeleteRegKey /x64 /x86 HKLM "${KEY}\Tree\Child" "end"
  !insertmacro Record key_missing
  Plugin::DeleteRegKey /x64 HKLM "${KEY}\Num" "end"
  !insertmacro Record key_x64_only
  Plugin::DeleteRegKey HKLM "${KEY}\Num" "end"
  !insertmacro Record key_no_view
  Plugin::DeleteRegValue /x64 /x86 HKLM "${KEY}\Val" "V" "end"
  !insertmacro Record value_both
  Plugin::DeleteRegValue /x86 HKLM "${KEY}\Val" "V" "end"
  !insertmacro Record value_missing
  Plugin::DeleteRegValue /x86 HKLM "${KEY}\Missing" "V" "end"
  !insertmacro Record value_missing_key
  Plugin::DeleteRegValue /x64 HKLM "${KEY}\Num" "Neg" "end"
  !insertmacro Record value_x64_only
  Plugin::DeleteRegValue /ifempty /x86 HKLM "${KEY}\Val" "Keep" "end"
  !insertmacro Record value_ifempty
  Plugin::DeleteRegKey /x86 HKLM "" "end"
  !insertmacro Record key_empty_subkey

  FileWriteUTF16LE $9 "done$\r$\n"
  FileClose $9
SectionEnd

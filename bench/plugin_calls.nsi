; Times blocks of CALLS calls inside one installer: each registry export of
; Plugin.dll beside the built-in instruction that does the same in the 32-bit
; view, and IsSupport64 (and GetSysVersion) beside x64.nsh's RunningX64. The
; counter is read before and after each block, so the installer's own start
; never counts.
; Each line of RESULT_FILE is "<block> <counts-before> <counts-after>", and
; the first one the counter's frequency.
Unicode true
!addplugindir /x86-unicode "${PLUGIN_DIR}"
!include x64.nsh
Name "plugin-calls"
OutFile "${OUT_FILE}"
RequestExecutionLevel admin
SilentInstall silent

!define BENCH_KEY "Software\QuillonBench"

Var Round
Var Before

!macro StartBlock
  StrCpy $Round 0
  System::Call "kernel32::QueryPerformanceCounter(*l .s)"
  Pop $Before
!macroend

; Ends the loop that began at LABEL and writes the block's counts.
!macro EndBlock NAME LABEL
  IntOp $Round $Round + 1
  IntCmp $Round ${CALLS} 0 ${LABEL} 0
  System::Call "kernel32::QueryPerformanceCounter(*l .s)"
  Pop $1
  FileWriteUTF16LE $9 "${NAME} $Before $1$\r$\n"
!macroend

Section
  FileOpen $9 "${RESULT_FILE}" w
  FileWriteUTF16LE /BOM $9 ""
  System::Call "kernel32::QueryPerformanceFrequency(*l .s)"
  Pop $1
  FileWriteUTF16LE $9 "frequency $1 0$\r$\n"
  SetRegView 32
  ; The plug-in is extracted and loaded once before any block is timed.
  Plugin::IsSupport64

  ; The loop alone, to take off every block.
  !insertmacro StartBlock
  empty:
  !insertmacro EndBlock empty empty

  !insertmacro StartBlock
  write_plugin:
  Plugin::WriteRegStr /x86 HKLM "${BENCH_KEY}" "Value" "some text" "end"
  !insertmacro EndBlock write_plugin write_plugin

  !insertmacro StartBlock
  write_builtin:
  WriteRegStr HKLM "${BENCH_KEY}" "Value" "some text"
  !insertmacro EndBlock write_builtin write_builtin

  !insertmacro StartBlock
  dword_plugin:
  Plugin::WriteRegDWORD /x86 HKLM "${BENCH_KEY}" "Number" "4660" "end"
  !insertmacro EndBlock dword_plugin dword_plugin

  !insertmacro StartBlock
  dword_builtin:
  WriteRegDWORD HKLM "${BENCH_KEY}" "Number" 4660
  !insertmacro EndBlock dword_builtin dword_builtin

  !insertmacro StartBlock
  bin_plugin:
  Plugin::WriteRegBin /x86 HKLM "${BENCH_KEY}" "Bytes" "0A1B2C3D" "end"
  !insertmacro EndBlock bin_plugin bin_plugin

  !insertmacro StartBlock
  bin_builtin:
  WriteRegBin HKLM "${BENCH_KEY}" "Bytes" 0A1B2C3D
  !insertmacro EndBlock bin_builtin bin_builtin

  ; Deletes need something to delete: each round writes the value (or the
  ; key) back with the built-in instruction, whose cost the write_builtin
  ; block tells.
  !insertmacro StartBlock
  delvalue_plugin:
  WriteRegStr HKLM "${BENCH_KEY}" "Value" "some text"
  Plugin::DeleteRegValue /x86 HKLM "${BENCH_KEY}" "Value" "end"
  !insertmacro EndBlock delvalue_plugin delvalue_plugin

  !insertmacro StartBlock
  delvalue_builtin:
  WriteRegStr HKLM "${BENCH_KEY}" "Value" "some text"
  DeleteRegValue HKLM "${BENCH_KEY}" "Value"
  !insertmacro EndBlock delvalue_builtin delvalue_builtin

  ; What the key deletes' rounds spend on creating their key: a new key
  ; with one value each round.
  !insertmacro StartBlock
  newkey_builtin:
  WriteRegStr HKLM "${BENCH_KEY}\Many\Child$Round" "Value" "some text"
  !insertmacro EndBlock newkey_builtin newkey_builtin
  DeleteRegKey HKLM "${BENCH_KEY}\Many"

  !insertmacro StartBlock
  delkey_plugin:
  WriteRegStr HKLM "${BENCH_KEY}\Child" "Value" "some text"
  Plugin::DeleteRegKey /x86 HKLM "${BENCH_KEY}\Child" "end"
  !insertmacro EndBlock delkey_plugin delkey_plugin

  !insertmacro StartBlock
  delkey_builtin:
  WriteRegStr HKLM "${BENCH_KEY}\Child" "Value" "some text"
  DeleteRegKey HKLM "${BENCH_KEY}\Child"
  !insertmacro EndBlock delkey_builtin delkey_builtin

  !insertmacro StartBlock
  is64_plugin:
  Plugin::IsSupport64
  !insertmacro EndBlock is64_plugin is64_plugin

  !insertmacro StartBlock
  sysversion_plugin:
  Plugin::GetSysVersion
  !insertmacro EndBlock sysversion_plugin sysversion_plugin

  ; What NSIS itself spends on handing six texts to a plug-in and taking
  ; them back, without any plug-in: the registry exports pop six texts.
  !insertmacro StartBlock
  args_builtin:
  Push "end"
  Push "some text"
  Push "Value"
  Push "${BENCH_KEY}"
  Push HKLM
  Push /x86
  Pop $2
  Pop $2
  Pop $2
  Pop $2
  Pop $2
  Pop $2
  !insertmacro EndBlock args_builtin args_builtin

  !insertmacro StartBlock
  is64_builtin:
  ${If} ${RunningX64}
    StrCpy $R0 1
  ${Else}
    StrCpy $R0 0
  ${EndIf}
  !insertmacro EndBlock is64_builtin is64_builtin

  DeleteRegKey HKLM "${BENCH_KEY}"
  FileClose $9
SectionEnd

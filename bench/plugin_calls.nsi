; Times Plugin.dll's exports beside NSIS's own instructions inside one
; installer: each registry export beside the built-in instruction that does
; the same in the 32-bit view, and IsSupport64 (and GetSysVersion) beside
; x64.nsh's RunningX64. The work is cut into ROUNDS rounds; in each round
; every block runs CALLS calls, and the two blocks of a pair run one after
; the other, in swapped order from one round to the next, so that a change in
; the machine's load falls on both sides of a pair alike. The counter is read
; before and after each block, so the installer's own start never counts.
;
; Each line of RESULT_FILE is "<block> <round> <counts-before> <counts-after>";
; the first one is "frequency <counts per second>".
;
; Defines: PLUGIN_DIR, OUT_FILE, RESULT_FILE, CALLS, ROUNDS.
Unicode true
!addplugindir /x86-unicode "${PLUGIN_DIR}"
!include x64.nsh
Name "plugin-calls"
OutFile "${OUT_FILE}"
RequestExecutionLevel admin
SilentInstall silent

!define BENCH_KEY "Software\QuillonBench"

Var Round
Var Call
Var Before
Var After

; What one call of each block does.
!macro Body_empty
!macroend
!macro Body_write_plugin
  Plugin::WriteRegStr /x86 HKLM "${BENCH_KEY}" "Value" "some text" "end"
!macroend
!macro Body_write_builtin
  WriteRegStr HKLM "${BENCH_KEY}" "Value" "some text"
!macroend
!macro Body_dword_plugin
  Plugin::WriteRegDWORD /x86 HKLM "${BENCH_KEY}" "Number" "4660" "end"
!macroend
!macro Body_dword_builtin
  WriteRegDWORD HKLM "${BENCH_KEY}" "Number" 4660
!macroend
!macro Body_bin_plugin
  Plugin::WriteRegBin /x86 HKLM "${BENCH_KEY}" "Bytes" "0A1B2C3D" "end"
!macroend
!macro Body_bin_builtin
  WriteRegBin HKLM "${BENCH_KEY}" "Bytes" 0A1B2C3D
!macroend
; Deletes need something to delete: each call first writes the value (or
; creates the key) with the built-in instruction. What that costs is the
; write_builtin (or newkey_builtin) block of the same round.
!macro Body_delvalue_plugin
  WriteRegStr HKLM "${BENCH_KEY}" "Value" "some text"
  Plugin::DeleteRegValue /x86 HKLM "${BENCH_KEY}" "Value" "end"
!macroend
!macro Body_delvalue_builtin
  WriteRegStr HKLM "${BENCH_KEY}" "Value" "some text"
  DeleteRegValue HKLM "${BENCH_KEY}" "Value"
!macroend
; A key that does not exist yet, with one value, as the key deletes' calls
; create it.
!macro Body_newkey_builtin
  WriteRegStr HKLM "${BENCH_KEY}\Many\Child$Call" "Value" "some text"
!macroend
!macro Body_delkey_plugin
  WriteRegStr HKLM "${BENCH_KEY}\Child" "Value" "some text"
  Plugin::DeleteRegKey /x86 HKLM "${BENCH_KEY}\Child" "end"
!macroend
!macro Body_delkey_builtin
  WriteRegStr HKLM "${BENCH_KEY}\Child" "Value" "some text"
  DeleteRegKey HKLM "${BENCH_KEY}\Child"
!macroend
!macro Body_is64_plugin
  Plugin::IsSupport64
!macroend
!macro Body_sysversion_plugin
  Plugin::GetSysVersion
!macroend
!macro Body_is64_builtin
  ${If} ${RunningX64}
    StrCpy $R0 1
  ${Else}
    StrCpy $R0 0
  ${EndIf}
!macroend
; What NSIS itself spends on handing six texts to a plug-in and taking them
; back, without any plug-in: the registry exports pop six texts.
!macro Body_args_builtin
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
!macroend

; CALLS calls of one block, timed. PLACE tells two insertions of one block
; apart.
!macro Block NAME PLACE
  StrCpy $Call 0
  System::Call "kernel32::QueryPerformanceCounter(*l .s)"
  Pop $Before
  loop_${NAME}_${PLACE}:
    !insertmacro Body_${NAME}
    IntOp $Call $Call + 1
    IntCmp $Call ${CALLS} 0 loop_${NAME}_${PLACE} 0
  System::Call "kernel32::QueryPerformanceCounter(*l .s)"
  Pop $After
  FileWriteUTF16LE $9 "${NAME} $Round $Before $After$\r$\n"
!macroend

; Two blocks, the first one first in even rounds and second in odd ones.
!macro Pair FIRST SECOND
  IntOp $0 $Round % 2
  IntCmp $0 0 0 odd_${FIRST} odd_${FIRST}
    !insertmacro Block ${FIRST} even
    !insertmacro Block ${SECOND} even
    Goto paired_${FIRST}
  odd_${FIRST}:
    !insertmacro Block ${SECOND} odd
    !insertmacro Block ${FIRST} odd
  paired_${FIRST}:
!macroend

Section
  FileOpen $9 "${RESULT_FILE}" w
  FileWriteUTF16LE /BOM $9 ""
  System::Call "kernel32::QueryPerformanceFrequency(*l .s)"
  Pop $1
  FileWriteUTF16LE $9 "frequency $1$\r$\n"
  SetRegView 32
  ; The plug-in is extracted and loaded once before any block is timed.
  Plugin::IsSupport64

  StrCpy $Round 0
  round:
    ; The loop alone, taken off every block of the round.
    !insertmacro Block empty only
    !insertmacro Pair write_plugin write_builtin
    !insertmacro Pair dword_plugin dword_builtin
    !insertmacro Pair bin_plugin bin_builtin
    !insertmacro Pair delvalue_plugin delvalue_builtin
    !insertmacro Block newkey_builtin only
    DeleteRegKey HKLM "${BENCH_KEY}\Many"
    !insertmacro Pair delkey_plugin delkey_builtin
    ; NSIS's own cost of calling any plug-in export: IsSupport64 does next
    ; to nothing of its own.
    !insertmacro Pair is64_plugin is64_builtin
    !insertmacro Pair sysversion_plugin args_builtin
    IntOp $Round $Round + 1
    IntCmp $Round ${ROUNDS} 0 round 0

  DeleteRegKey HKLM "${BENCH_KEY}"
  FileClose $9
SectionEnd

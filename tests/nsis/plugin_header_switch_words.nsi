; Gives the header's registry macros switch words where they expect a root,
; key, value name or data. The cases come from CASES_FILE, one line each:
;   !insertmacro SwitchCase_<macro> <number> <views> <root> <key> [<name> [<data>]]
; and every one is checked as plugin_header_checks.nsh describes. Before each
; case "begin <number>" goes to the log, so that a case that never ends can
; be named; "/FIRST=<number>" on the command line skips the cases before it.
;
; Defines: PLUGIN_DIR, OUT_FILE, RESULT_FILE, CASES_FILE.
!include "${__FILEDIR__}/installer_target.nsh"
!addincludedir "${PLUGIN_DIR}"
!include Plugin.nsh
!include FileFunc.nsh
Name "plugin header switch words"
OutFile "${OUT_FILE}"
RequestExecutionLevel user
SilentInstall silent

!include "${__FILEDIR__}/plugin_header_checks.nsh"

Var First

!macro SwitchCaseBegin NUMBER
  IntCmp ${NUMBER} $First 0 skip_${NUMBER} 0
  FileWriteUTF16LE $Log "begin ${NUMBER}$\r$\n"
  !insertmacro Before
!macroend

!macro SwitchCase_PluginWriteRegStr NUMBER VIEWS ROOT KEY NAME DATA
  !insertmacro SwitchCaseBegin ${NUMBER}
  ${PluginWriteRegStr} `${VIEWS}` `${ROOT}` `${KEY}` `${NAME}` `${DATA}` $Out
  !insertmacro After case${NUMBER} - $Out
  skip_${NUMBER}:
!macroend
!macro SwitchCase_PluginWriteRegDWORD NUMBER VIEWS ROOT KEY NAME DATA
  !insertmacro SwitchCaseBegin ${NUMBER}
  ${PluginWriteRegDWORD} `${VIEWS}` `${ROOT}` `${KEY}` `${NAME}` `${DATA}` $Out
  !insertmacro After case${NUMBER} - $Out
  skip_${NUMBER}:
!macroend
!macro SwitchCase_PluginWriteRegBin NUMBER VIEWS ROOT KEY NAME DATA
  !insertmacro SwitchCaseBegin ${NUMBER}
  ${PluginWriteRegBin} `${VIEWS}` `${ROOT}` `${KEY}` `${NAME}` `${DATA}` $Out
  !insertmacro After case${NUMBER} - $Out
  skip_${NUMBER}:
!macroend
!macro SwitchCase_PluginDeleteRegValue NUMBER VIEWS ROOT KEY NAME
  !insertmacro SwitchCaseBegin ${NUMBER}
  ${PluginDeleteRegValue} `${VIEWS}` `${ROOT}` `${KEY}` `${NAME}` $Out
  !insertmacro After case${NUMBER} - $Out
  skip_${NUMBER}:
!macroend
!macro SwitchCase_PluginDeleteRegKey NUMBER VIEWS ROOT KEY
  !insertmacro SwitchCaseBegin ${NUMBER}
  ${PluginDeleteRegKey} `${VIEWS}` `${ROOT}` `${KEY}` $Out
  !insertmacro After case${NUMBER} - $Out
  skip_${NUMBER}:
!macroend

Section
  FileOpen $Log "${RESULT_FILE}" w
  FileWriteUTF16LE /BOM $Log "start$\r$\n"
  ${GetParameters} $0
  ${GetOptions} $0 "/FIRST=" $First
  StrCmp $First "" 0 +2
    StrCpy $First 0
  !include "${CASES_FILE}"
  FileWriteUTF16LE $Log "done$\r$\n"
  FileClose $Log
SectionEnd

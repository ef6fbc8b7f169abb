; Plugin.nsh: Plugin.dll for NSIS script authors.
;
; Unpacked over an NSIS installation from the Plugin package, this file
; lies in NSIS's Include folder and Plugin.dll in its Plugins\x86-unicode
; and Plugins\amd64-unicode folders, and a script needs only:
;
;   Unicode true
;   !include Plugin.nsh
;
; A 64-bit installer (Target amd64-unicode) uses the same header and the
; same macros; makensis picks the plug-in built for its target.
;
; Elsewhere, add this file's folder first; it finds Plugin.dll beside itself
; (the 64-bit one in amd64-unicode beside itself) or in the package's own
; layout (..\Plugins\x86-unicode, ..\Plugins\amd64-unicode):
;
;   !addincludedir "path\to\folder\with\Plugin.nsh"
;
; Conditions for LogicLib (${If}, ${ElseIf}, ${AndIf}, ${Unless}, ...):
;   ${ProcessRunning} "app.exe"   true when FindProc answers 1
;   ${Supports64Bit}              true when IsSupport64 answers 1
;
; Macros that hand the answer to an output variable:
;   ${FindProc} "app.exe" $0                     1, 0 or an error code
;   ${GetSysVersion} $0                          the version word
;   ${RWCreate} DIR|FILE "path" $0               1/0 (DIR), the path or "" (FILE),
;                                                "" for any other kind
;   ${PluginWriteRegStr}    VIEWS ROOT "key" "name" "data" $0
;   ${PluginWriteRegDWORD}  VIEWS ROOT "key" "name" "data" $0
;   ${PluginWriteRegBin}    VIEWS ROOT "key" "name" "data" $0
;   ${PluginDeleteRegValue} VIEWS ROOT "key" "name" $0
;   ${PluginDeleteRegKey}   VIEWS ROOT "key" $0
; and one without:
;   ${WaitUntilDllFree} "$INSTDIR\x.dll"         GetDllOwnerProcName on x.dll
;
; VIEWS is one text of switches separated by blanks: "/x86", "/x64" or
; "/x86 /x64", and for PluginDeleteRegKey also "/ifempty". A text that is
; anything else is passed on to the export as it stands, and the export
; answers as its argument grammar says ("" is a parameter error, "0").
; The registry macros add the end marker themselves. A registry macro's
; output is what the export answered: "1" or "0" for the deletes, "0" for a
; parameter error of the writes, and "" where the export answered nothing (a
; write, or an unknown root).
;
; On 32-bit Windows "/x64" is no switch for the write exports: given as a
; raw argument it is taken for the root, and the call writes nothing at all.
; The write macros therefore pass "/x64" only where IsSupport64 answers 1,
; so "/x86 /x64" writes the one registry of 32-bit Windows and "/x64" alone
; writes nothing there, as the deletes do with "/x64" alone.
;
; A switch word that the export reads as a switch cannot stand for a key,
; value name or data: "/x86" in any of them, "/x64" in the deletes' and (on
; 64-bit Windows) the writes', "/ifempty" in PluginDeleteRegKey's key. Such a
; call writes and deletes nothing; the macro sets the error flag and
; outputs "0". A switch word given as ROOT makes the export look for the root
; in the key instead: nothing is written or deleted, and the output is "" as
; for an unknown root (or "0" with the error flag, should the key itself be a
; root name).
;
; When NSIS cannot call the plug-in (Plugin.dll cannot be extracted or
; loaded), it sets the error flag and no export runs. The conditions are then
; false, the registry macros output "0", the others "", and the error flag
; stays set.
;
; Every macro and condition leaves every variable but its output as it was,
; $R0 included, and takes from the NSIS stack exactly what it put there,
; whatever the export answers and whatever the texts are. A macro with an
; output leaves the error flag as it was unless it sets it as said above.
; Raw Plugin:: calls work as before.

!ifndef PLUGIN_NSH_INCLUDED
!define PLUGIN_NSH_INCLUDED
!verbose push
!verbose 3

!include LogicLib.nsh

; Plugin.dll beside this header, or in the package's layout beside its
; Include folder; makensis also looks in its own Plugins\<target>. Each
; folder serves one target, and makensis looks only in the folders of the
; target it builds for.
!addplugindir /x86-unicode "${__FILEDIR__}"
!addplugindir /x86-unicode "${__FILEDIR__}\..\Plugins\x86-unicode"
!addplugindir /amd64-unicode "${__FILEDIR__}\amd64-unicode"
!addplugindir /amd64-unicode "${__FILEDIR__}\..\Plugins\amd64-unicode"

; Lies below a macro's arguments on the NSIS stack, so that whatever an
; export leaves unread can be taken off again; it is also the value $R0
; holds when an export answers nothing. Control characters keep it apart
; from any argument a script could mean.
!define _PLUGIN_NSH_BOTTOM "$\r$\n[Plugin.nsh: below the arguments]$\r$\n"
; The registry exports read up to one closing text; its content is not read.
!define _PLUGIN_NSH_END_MARKER "end"
; Stands on the stack for the error flag that the script had set.
!define _PLUGIN_NSH_ERRORS_WERE_SET "errors"

; Labels inside macros must differ from one insertion to the next.
!define _PLUGIN_NSH_ID 0
!macro _PluginNsh_NewId
  !define /redef /math _PLUGIN_NSH_ID ${_PLUGIN_NSH_ID} + 1
!macroend

!macro _PluginNsh_RequireUnicode
  !ifndef NSIS_UNICODE
    !error "Plugin.dll serves Unicode installers only: put 'Unicode true' at the top of the script"
  !endif
!macroend

; When NSIS cannot call the plug-in (the DLL cannot be extracted or loaded,
; or lacks the export), it sets the error flag, runs no export and leaves
; the call's arguments on the stack. The conditions and macros below put the
; bottom mark under their arguments and set $R0 before each call, so that
; they take those arguments off again and answer as for a failed call.

; After an export that answers "1" or something else in $R0 ("" when NSIS
; could not call it), with whatever it left unread above the bottom mark and
; the script's $R0 below: restore $R0, then go where LogicLib asks for the
; answer EXPECT or not.
!macro _PluginNsh_BranchOnAnswer _EXPECT _t _f
  !insertmacro _PluginNsh_NewId
  StrCmpS $R0 `${_EXPECT}` 0 _PluginNsh_false_${_PLUGIN_NSH_ID}
    Pop $R0
    StrCmpS $R0 `${_PLUGIN_NSH_BOTTOM}` 0 -1
    Pop $R0
    !if `${_t}` == ``
      Goto _PluginNsh_done_${_PLUGIN_NSH_ID}
    !else
      Goto `${_t}`
    !endif
  _PluginNsh_false_${_PLUGIN_NSH_ID}:
    Pop $R0
    StrCmpS $R0 `${_PLUGIN_NSH_BOTTOM}` 0 -1
    Pop $R0
    !if `${_f}` != ``
      Goto `${_f}`
    !endif
  ; makensis warns of a label nobody jumps to.
  !if `${_t}` == ``
    _PluginNsh_done_${_PLUGIN_NSH_ID}:
  !endif
!macroend

!define ProcessRunning `"" ProcessRunning`
!macro _ProcessRunning _a _b _t _f
  !insertmacro _PluginNsh_RequireUnicode
  Push $R0
  Push `${_PLUGIN_NSH_BOTTOM}`
  Push `${_b}`
  StrCpy $R0 ""
  Plugin::FindProc
  !insertmacro _PluginNsh_BranchOnAnswer 1 `${_t}` `${_f}`
!macroend

!define Supports64Bit `"" Supports64Bit ""`
!macro _Supports64Bit _a _b _t _f
  !insertmacro _PluginNsh_RequireUnicode
  Push $R0
  Push `${_PLUGIN_NSH_BOTTOM}`
  StrCpy $R0 ""
  Plugin::IsSupport64
  !insertmacro _PluginNsh_BranchOnAnswer 1 `${_t}` `${_f}`
!macroend

; GetSysVersion takes nothing from the stack: the script's $R0 waits there
; and changes places with the answer.
!define GetSysVersion `!insertmacro _PluginNsh_GetSysVersion`
!macro _PluginNsh_GetSysVersion _OUT
  !insertmacro _PluginNsh_RequireUnicode
  Push $R0
  StrCpy $R0 ""
  Plugin::GetSysVersion
  Exch $R0
  Pop ${_OUT}
!macroend

; GetDllOwnerProcName compares base names, so a path would never match: only
; the part after the last folder separator is passed.
!define WaitUntilDllFree `!insertmacro _PluginNsh_WaitUntilDllFree`
!macro _PluginNsh_WaitUntilDllFree _DLL
  !insertmacro _PluginNsh_RequireUnicode
  !insertmacro _PluginNsh_NewId
  Push $R0
  Push $R1
  Push $R2
  StrCpy $R0 `${_DLL}`
  StrLen $R1 $R0
  _PluginNsh_scan_${_PLUGIN_NSH_ID}:
    IntOp $R1 $R1 - 1
    IntCmp $R1 0 0 _PluginNsh_named_${_PLUGIN_NSH_ID}
    StrCpy $R2 $R0 1 $R1
    StrCmp $R2 "\" +3
    StrCmp $R2 "/" +2
    StrCmp $R2 ":" 0 _PluginNsh_scan_${_PLUGIN_NSH_ID}
    IntOp $R1 $R1 + 1
    StrCpy $R0 $R0 "" $R1
  _PluginNsh_named_${_PLUGIN_NSH_ID}:
  Pop $R2
  Pop $R1
  Push `${_PLUGIN_NSH_BOTTOM}`
  Push $R0
  Plugin::GetDllOwnerProcName
  Pop $R0
  StrCmpS $R0 `${_PLUGIN_NSH_BOTTOM}` 0 -1
  Pop $R0
!macroend

; The macros that hand an answer to an output variable save $R0..$R3 and
; whether the error flag was set, clear the flag, put the bottom mark under
; the arguments and into $R0, call the export without arguments of its own,
; and then end with _PluginNsh_Finish.
!macro _PluginNsh_Begin
  Push $R0
  Push $R1
  Push $R2
  Push $R3
  IfErrors 0 +3
    Push `${_PLUGIN_NSH_ERRORS_WERE_SET}`
    Goto +2
    Push ""
  ClearErrors
  Push `${_PLUGIN_NSH_BOTTOM}`
!macroend

; Takes everything down to the bottom mark off the stack, restores $R0..$R3,
; and writes the answer to OUT: the export's answer, "" where it answered
; nothing, or FAILED where NSIS could not call the plug-in (the error flag is
; set then) or, with GUARDED 1, where a registry export read past its end
; marker. The error flag is then set for a failure, and otherwise as the
; script had it.
;
; GUARDED: the registry macros put an empty text between their end marker
; and the bottom mark. An export that takes one of the arguments for a switch
; fills its slots from the texts that follow, reads that empty text before it
; has done anything, and ends with its parameter error; the bottom mark is
; then the first text left. So no switch word makes an export write with
; shifted arguments or read into the script's own stack.
!macro _PluginNsh_Finish _OUT _FAILED _GUARDED
  !insertmacro _PluginNsh_NewId
  !define _PLUGIN_NSH_FINISH_ID ${_PLUGIN_NSH_ID}
  StrCpy $R2 0
  IfErrors 0 +2
    StrCpy $R2 1
  ClearErrors
  Pop $R1
  !if ${_GUARDED} == 1
    StrCmpS $R1 `${_PLUGIN_NSH_BOTTOM}` 0 _PluginNsh_unread_${_PLUGIN_NSH_FINISH_ID}
      StrCpy $R2 1
      Goto _PluginNsh_cleared_${_PLUGIN_NSH_FINISH_ID}
  !endif
  _PluginNsh_unread_${_PLUGIN_NSH_FINISH_ID}:
    StrCmpS $R1 `${_PLUGIN_NSH_BOTTOM}` _PluginNsh_cleared_${_PLUGIN_NSH_FINISH_ID}
    Pop $R1
    ; An empty stack ends the search too, should the mark ever be gone.
    IfErrors _PluginNsh_cleared_${_PLUGIN_NSH_FINISH_ID} _PluginNsh_unread_${_PLUGIN_NSH_FINISH_ID}
  _PluginNsh_cleared_${_PLUGIN_NSH_FINISH_ID}:
  StrCmpS $R2 1 0 +3
    StrCpy $R0 `${_FAILED}`
    Goto +3
  StrCmpS $R0 `${_PLUGIN_NSH_BOTTOM}` 0 +2
    StrCpy $R0 ""
  Pop $R1
  ClearErrors
  StrCmpS "$R1$R2" "0" +2
    SetErrors
  Pop $R3
  Pop $R2
  Pop $R1
  Exch $R0
  Pop ${_OUT}
  !undef _PLUGIN_NSH_FINISH_ID
!macroend

!define FindProc `!insertmacro _PluginNsh_FindProc`
!macro _PluginNsh_FindProc _NAME _OUT
  !insertmacro _PluginNsh_RequireUnicode
  !insertmacro _PluginNsh_Begin
  Push `${_NAME}`
  StrCpy $R0 `${_PLUGIN_NSH_BOTTOM}`
  Plugin::FindProc
  !insertmacro _PluginNsh_Finish `${_OUT}` "" 0
!macroend

!define RWCreate `!insertmacro _PluginNsh_RWCreate`
!macro _PluginNsh_RWCreate _KIND _PATH _OUT
  !insertmacro _PluginNsh_RequireUnicode
  !insertmacro _PluginNsh_Begin
  Push `${_PATH}`
  Push `${_KIND}`
  StrCpy $R0 `${_PLUGIN_NSH_BOTTOM}`
  Plugin::RWCreate
  !insertmacro _PluginNsh_Finish `${_OUT}` "" 0
!macroend

; Pushes the switches of the views text in $R1 so that they are popped
; first. A text made only of blank-separated switches that this export
; accepts is split into them; any other text is pushed as it stands. MODE is
; Write, DeleteKey or DeleteValue. Uses $R0, $R2 and $R3.
!macro _PluginNsh_PushViews _MODE
  !insertmacro _PluginNsh_NewId
  !define _PLUGIN_NSH_VIEWS_ID ${_PLUGIN_NSH_ID}
  StrCpy $R3 0    ; switches seen: 1 /x86, 2 /x64, 4 /ifempty
  StrCpy $R2 "$R1 "
  _PluginNsh_word_${_PLUGIN_NSH_VIEWS_ID}:
    StrCmp $R2 "" _PluginNsh_words_read_${_PLUGIN_NSH_VIEWS_ID}
    StrCpy $R0 $R2 1
    StrCmp $R0 " " 0 +3
      StrCpy $R2 $R2 "" 1
      Goto _PluginNsh_word_${_PLUGIN_NSH_VIEWS_ID}
    StrCpy $R0 $R2 5
    StrCmp $R0 "/x86 " 0 +4
      IntOp $R3 $R3 | 1
      StrCpy $R2 $R2 "" 5
      Goto _PluginNsh_word_${_PLUGIN_NSH_VIEWS_ID}
    StrCmp $R0 "/x64 " 0 +4
      IntOp $R3 $R3 | 2
      StrCpy $R2 $R2 "" 5
      Goto _PluginNsh_word_${_PLUGIN_NSH_VIEWS_ID}
    !if ${_MODE} == DeleteKey
      StrCpy $R0 $R2 9
      StrCmp $R0 "/ifempty " 0 +4
        IntOp $R3 $R3 | 4
        StrCpy $R2 $R2 "" 9
        Goto _PluginNsh_word_${_PLUGIN_NSH_VIEWS_ID}
    !endif
    ; A word that is no switch here: the whole text goes as it stands.
    StrCpy $R3 0
  _PluginNsh_words_read_${_PLUGIN_NSH_VIEWS_ID}:
  IntCmp $R3 0 _PluginNsh_as_given_${_PLUGIN_NSH_VIEWS_ID}
  !if ${_MODE} == Write
    ; For the writes "/x64" is a switch only on 64-bit Windows, which the
    ; export asks exactly as IsSupport64 does. Should NSIS fail to call the
    ; plug-in here, it fails the export's call as well.
    IntOp $R0 $R3 & 2
    IntCmp $R0 0 _PluginNsh_views_known_${_PLUGIN_NSH_VIEWS_ID}
    StrCpy $R0 ""
    Plugin::IsSupport64
    StrCmp $R0 "1" _PluginNsh_views_known_${_PLUGIN_NSH_VIEWS_ID}
    IntOp $R3 $R3 & 5
  _PluginNsh_views_known_${_PLUGIN_NSH_VIEWS_ID}:
  !endif
  IntOp $R0 $R3 & 4
  IntCmp $R0 0 +2
    Push "/ifempty"
  IntOp $R0 $R3 & 2
  IntCmp $R0 0 +2
    Push "/x64"
  IntOp $R0 $R3 & 1
  IntCmp $R0 0 +2
    Push "/x86"
  Goto _PluginNsh_views_pushed_${_PLUGIN_NSH_VIEWS_ID}
  _PluginNsh_as_given_${_PLUGIN_NSH_VIEWS_ID}:
    Push $R1
  _PluginNsh_views_pushed_${_PLUGIN_NSH_VIEWS_ID}:
  !undef _PLUGIN_NSH_VIEWS_ID
!macroend

; The positional texts, the end marker and the empty text below it are on
; the stack above the bottom mark; VIEWS is read only now, while $R0..$R3
; still hold the script's values.
!macro _PluginNsh_RegistryCall _EXPORT _MODE _VIEWS _OUT
  StrCpy $R1 `${_VIEWS}`
  !insertmacro _PluginNsh_PushViews ${_MODE}
  StrCpy $R0 `${_PLUGIN_NSH_BOTTOM}`
  Plugin::${_EXPORT}
  !insertmacro _PluginNsh_Finish `${_OUT}` 0 1
!macroend

!macro _PluginNsh_WriteValue _EXPORT _VIEWS _ROOT _KEY _NAME _DATA _OUT
  !insertmacro _PluginNsh_RequireUnicode
  !insertmacro _PluginNsh_Begin
  Push ""
  Push `${_PLUGIN_NSH_END_MARKER}`
  Push `${_DATA}`
  Push `${_NAME}`
  Push `${_KEY}`
  Push `${_ROOT}`
  !insertmacro _PluginNsh_RegistryCall ${_EXPORT} Write `${_VIEWS}` `${_OUT}`
!macroend

!define PluginWriteRegStr `!insertmacro _PluginNsh_WriteValue WriteRegStr`
!define PluginWriteRegDWORD `!insertmacro _PluginNsh_WriteValue WriteRegDWORD`
!define PluginWriteRegBin `!insertmacro _PluginNsh_WriteValue WriteRegBin`

!define PluginDeleteRegValue `!insertmacro _PluginNsh_DeleteRegValue`
!macro _PluginNsh_DeleteRegValue _VIEWS _ROOT _KEY _NAME _OUT
  !insertmacro _PluginNsh_RequireUnicode
  !insertmacro _PluginNsh_Begin
  Push ""
  Push `${_PLUGIN_NSH_END_MARKER}`
  Push `${_NAME}`
  Push `${_KEY}`
  Push `${_ROOT}`
  !insertmacro _PluginNsh_RegistryCall DeleteRegValue DeleteValue `${_VIEWS}` `${_OUT}`
!macroend

!define PluginDeleteRegKey `!insertmacro _PluginNsh_DeleteRegKey`
!macro _PluginNsh_DeleteRegKey _VIEWS _ROOT _KEY _OUT
  !insertmacro _PluginNsh_RequireUnicode
  !insertmacro _PluginNsh_Begin
  Push ""
  Push `${_PLUGIN_NSH_END_MARKER}`
  Push `${_KEY}`
  Push `${_ROOT}`
  !insertmacro _PluginNsh_RegistryCall DeleteRegKey DeleteKey `${_VIEWS}` `${_OUT}`
!macroend

!verbose pop
!endif

; The update installer of the demo: what the token software's own installer
; does with Plugin.dll when Quillon has downloaded and started it.
;
; Quillon starts it without arguments, so it is silent by itself. It installs
; into the folder the installed product names (InstallPath), waits while the
; product's DLL is in use, then records the new version. Each step leaves a
; line in <install dir>\update.log (UTF-16), which the demo reads back.
;
; Defines (makensis -D): PLUGIN_DIR, OUT_FILE, NEW_VERSION, PRODUCT_DLL,
; PRODUCT_PROCESS.
Unicode true
!addplugindir /x86-unicode "${PLUGIN_DIR}"
!define PRODUCT_KEY "Software\Orvanta\58P7M_WRZ"

Name "Orvanta Token software, version ${NEW_VERSION}"
OutFile "${OUT_FILE}"
RequestExecutionLevel admin
SilentInstall silent
; The product's folder when the registry names none.
InstallDir "$PROGRAMFILES\Orvanta\Token"

Var log

!macro Log text
  FileWriteUTF16LE $log "${text}$\r$\n"
!macroend

Function .onInit
  ; A 32-bit installer reads the 32-bit view, where the product key lives.
  ReadRegStr $0 HKLM "${PRODUCT_KEY}" "InstallPath"
  StrCmp $0 "" +2
    StrCpy $INSTDIR $0
FunctionEnd

Section
  CreateDirectory "$INSTDIR"
  FileOpen $log "$INSTDIR\update.log" w
  FileWriteUTF16LE /BOM $log "started=${NEW_VERSION}$\r$\n"

  Plugin::FindProc "${PRODUCT_PROCESS}"
  !insertmacro Log "running_before=$R0"

  ; Replacing the product's files while the product runs would fail: hold the
  ; installation, with a Retry/Cancel box, until nobody has the DLL loaded.
  Plugin::GetDllOwnerProcName "${PRODUCT_DLL}"
  Plugin::FindProc "${PRODUCT_PROCESS}"
  !insertmacro Log "running_after=$R0"
  StrCmp $R0 "0" dll_free
    ; Cancel on the box: leave the installed version as it is.
    !insertmacro Log "finished=cancelled"
    FileClose $log
    Abort
  dll_free:

  Plugin::GetSysVersion
  !insertmacro Log "windows=$R0"
  Plugin::IsSupport64
  StrCpy $1 $R0
  !insertmacro Log "windows_64bit=$1"

  ; The new files. A real installer would put the product here.
  FileOpen $2 "$INSTDIR\version.txt" w
  FileWrite $2 "${NEW_VERSION}$\r$\n"
  FileClose $2

  ; Quillon reads the 32-bit view: the new version goes there. InstallPath
  ; also goes to the 64-bit view, for the product's 64-bit parts; /x64 exists
  ; only on 64-bit Windows.
  Plugin::WriteRegDWORD /x86 HKLM "${PRODUCT_KEY}" "DisplayVersion" "${NEW_VERSION}" "end"
  StrCmp $1 "1" 0 only_32bit_view
    Plugin::WriteRegStr /x86 /x64 HKLM "${PRODUCT_KEY}" "InstallPath" "$INSTDIR" "end"
    Goto views_written
  only_32bit_view:
    Plugin::WriteRegStr /x86 HKLM "${PRODUCT_KEY}" "InstallPath" "$INSTDIR" "end"
  views_written:
  ; The value older versions used is gone from this version on.
  Plugin::DeleteRegValue /x86 HKLM "${PRODUCT_KEY}" "LegacyChannel" "end"
  !insertmacro Log "legacy_value_deleted=$R0"

  ; Data every user of the machine shares with the token service.
  SetShellVarContext all
  CreateDirectory "$APPDATA\Orvanta"
  Plugin::RWCreate DIR "$APPDATA\Orvanta\TokenShared"
  !insertmacro Log "shared_dir=$APPDATA\Orvanta\TokenShared"
  !insertmacro Log "shared_dir_created=$R0"

  !insertmacro Log "finished=${NEW_VERSION}"
  FileClose $log
SectionEnd

; Example.nsi: a complete installer that uses Plugin.dll through Plugin.nsh.
;
; Unpack the Plugin package over your NSIS installation: its folders
; Plugins, Include, Docs and Examples go into NSIS's own. Then compile this
; script as it stands:
;
;   makensis Example.nsi
;
; No !addplugindir is needed: Plugin.nsh finds Plugin.dll in NSIS's
; Plugins\x86-unicode folder. For a 64-bit installer, change the target and
; nothing else; Plugin.dll then comes from Plugins\amd64-unicode:
;
;   makensis -X"Target amd64-unicode" Example.nsi
;
; The result, ExampleSetup.exe, installs "Example Product" with an
; uninstaller; /S installs silently, /D=<folder> chooses the folder.
;
; What it shows, in the order the installer uses it:
;   - Windows older than 7 SP1 refused before any Plugin:: call;
;   - ${ProcessRunning}: no install over the running program;
;   - ${WaitUntilDllFree}: the install held while a DLL is in use;
;   - ${PluginWriteRegStr}, ${PluginWriteRegDWORD}, ${PluginWriteRegBin}:
;     values in the 32-bit and the 64-bit registry view;
;   - ${RWCreate}: a folder and a file that every user may write;
;   - ${GetSysVersion} and ${Supports64Bit};
;   - in the uninstaller, ${FindProc} with its error codes,
;     ${PluginDeleteRegValue} and ${PluginDeleteRegKey} with /ifempty.

Unicode true                  ; Plugin.dll serves Unicode installers only
!include LogicLib.nsh
!include WinVer.nsh
!include Plugin.nsh

!define VENDOR "Example Vendor"
!define PRODUCT "Example Product"
!define VENDOR_KEY "Software\${VENDOR}"
!define PRODUCT_KEY "${VENDOR_KEY}\${PRODUCT}"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\ExampleProduct"
!define PRODUCT_PROCESS "ExampleProduct.exe"  ; the product's program
!define PRODUCT_DLL "ExampleProduct.dll"      ; a DLL that other programs load

Name "${PRODUCT}"
OutFile "ExampleSetup.exe"
InstallDir "$PROGRAMFILES\${VENDOR}\${PRODUCT}"
RequestExecutionLevel admin   ; HKLM, Program Files and the shared folder
ShowInstDetails show
ShowUninstDetails show

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Function .onInit
  ; Plugin.dll declares Windows 7 as its minimum, so an older Windows does
  ; not even load it and every Plugin:: call would fail. Ask NSIS first.
  ; LogicLib reads the conditions from left to right: (7 and SP1) or 8+.
  ${If} ${AtLeastWin7}
  ${AndIf} ${AtLeastServicePack} 1
  ${OrIf} ${AtLeastWin8}
    ; supported
  ${Else}
    MessageBox MB_OK|MB_ICONSTOP "${PRODUCT} needs Windows 7 SP1 or later." /SD IDOK
    Abort
  ${EndIf}

  ; Files of a running program cannot be replaced.
  ${If} ${ProcessRunning} "${PRODUCT_PROCESS}"
    MessageBox MB_OK|MB_ICONEXCLAMATION "Please close ${PRODUCT}, then start the setup again." /SD IDOK
    Abort
  ${EndIf}
FunctionEnd

Section "${PRODUCT}"
  ; Other programs (a service, an add-in) may have the product's DLL loaded.
  ; Hold on, with a Retry/Cancel box that also shows in silent installs,
  ; until none has. A path is fine: only the file name is compared.
  ${WaitUntilDllFree} "$INSTDIR\${PRODUCT_DLL}"

  SetOutPath "$INSTDIR"
  ; The product's files go here. This example installs its own script, so
  ; that it compiles wherever it lies.
  File "/oname=Example.nsi" "${__FILEDIR__}\${__FILE__}"
  WriteUninstaller "$INSTDIR\Uninstall.exe"

  ; The install folder in both registry views, for the product's 32-bit and
  ; 64-bit parts; on 32-bit Windows, in its one registry. NSIS's own
  ; WriteRegStr writes one view at a time (SetRegView).
  ${PluginWriteRegStr} "/x86 /x64" HKLM "${PRODUCT_KEY}" "InstallPath" "$INSTDIR" $0
  ; The output is "0" for an empty argument and empty otherwise: a write
  ; the registry refused does not show there, so read back what matters.
  ReadRegStr $1 HKLM "${PRODUCT_KEY}" "InstallPath"
  ${If} $1 != "$INSTDIR"
    DetailPrint "InstallPath could not be written to the registry"
  ${EndIf}
  ${PluginWriteRegDWORD} "/x86" HKLM "${PRODUCT_KEY}" "Version" "1" $0
  ; Binary data as hexadecimal digit pairs: the bytes 01 03.
  ${PluginWriteRegBin} "/x86" HKLM "${PRODUCT_KEY}" "Features" "0103" $0

  ; A folder and a settings file that every user of the machine may change,
  ; for the product's service and its users to share.
  SetShellVarContext all
  CreateDirectory "$APPDATA\${VENDOR}"
  ${RWCreate} DIR "$APPDATA\${VENDOR}\${PRODUCT}" $0
  ${RWCreate} FILE "$APPDATA\${VENDOR}\${PRODUCT}\shared.ini" $1
  ${If} $1 == ""
    DetailPrint "shared.ini could not be created"
  ${EndIf}
  SetShellVarContext current

  ; The version word is a name kept for old scripts: Windows 7 answers
  ; "Vista", Windows 10 and 11 answer "Win7" (see the plug-in's reference).
  ${GetSysVersion} $0
  DetailPrint "GetSysVersion: $0"
  ${If} ${Supports64Bit}
    DetailPrint "64-bit Windows: InstallPath is in both registry views"
  ${EndIf}

  ; Add/Remove Programs, with NSIS's own instructions.
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
SectionEnd

Section "Uninstall"
  ; FindProc tells "not running" (0) apart from "could not look" (an error
  ; code); ${ProcessRunning} counts both as false.
  ${FindProc} "${PRODUCT_PROCESS}" $0
  ${If} $0 == "1"
    MessageBox MB_OK|MB_ICONEXCLAMATION "Please close ${PRODUCT}, then uninstall again." /SD IDOK
    Abort
  ${ElseIf} $0 != "0"
    DetailPrint "Could not tell whether ${PRODUCT_PROCESS} runs (code $0)"
  ${EndIf}
  ${WaitUntilDllFree} "$INSTDIR\${PRODUCT_DLL}"

  ; The deletes answer "1" when every view asked for is done. On 32-bit
  ; Windows they pass over /x64 by themselves.
  ${PluginDeleteRegValue} "/x86 /x64" HKLM "${PRODUCT_KEY}" "InstallPath" $0
  ${PluginDeleteRegValue} "/x86" HKLM "${PRODUCT_KEY}" "Version" $0
  ${PluginDeleteRegValue} "/x86" HKLM "${PRODUCT_KEY}" "Features" $0
  ; The product's key, then the vendor's, in each view: /ifempty leaves a
  ; key that still holds keys of other products in place.
  ${PluginDeleteRegKey} "/x86 /x64 /ifempty" HKLM "${PRODUCT_KEY}" $0
  DetailPrint "Product key removed: $0"
  ${PluginDeleteRegKey} "/x86 /x64 /ifempty" HKLM "${VENDOR_KEY}" $0
  DeleteRegKey HKLM "${UNINSTALL_KEY}"

  SetShellVarContext all
  Delete "$APPDATA\${VENDOR}\${PRODUCT}\shared.ini"
  RMDir "$APPDATA\${VENDOR}\${PRODUCT}"
  RMDir "$APPDATA\${VENDOR}"
  SetShellVarContext current

  Delete "$INSTDIR\Example.nsi"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"
SectionEnd

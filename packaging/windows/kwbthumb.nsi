; Installer of the .kwb thumbnail handler (RvtThumbDll.dll). Made by scripts/package-windows:
;   makensis -DDLL=path\to\RvtThumbDll.dll -DOUTFILE=kwbthumb-win64.exe [-DVERSION=x.y] kwbthumb.nsi
;
;   kwbthumb-win64.exe [/S] [/AllUsers | /CurrentUser] [/D=FOLDER]
;
; Per machine (the default for an administrator; Program Files, classes under HKLM) or per
; user (the default otherwise; the user's program folder, classes under
; HKCU\Software\Classes). Either way the DLL registers itself through its own
; DllRegisterServer, with HKEY_CLASSES_ROOT pointed at the chosen hive while it runs, so the
; keys are the ones the DLL writes and they land where the mode says. The uninstaller calls
; DllUnregisterServer the same way and removes the files.

!ifndef DLL
  !error "define DLL, the path of RvtThumbDll.dll"
!endif
!ifndef OUTFILE
  !define OUTFILE "kwbthumb-win64.exe"
!endif
!ifndef VERSION
  !define VERSION "1.0"
!endif

!define PRODUCT "KwbThumb"
!define PRODUCT_NAME "KwbThumb thumbnail handler"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"
!define SHCNE_ASSOCCHANGED 0x08000000
!define KEY_ALL_ACCESS 0xF003F
; Predefined registry handles as the SDK defines them: 32-bit values, sign-extended.
!define HKEY_CLASSES_ROOT_HANDLE -2147483648
!define HKEY_CURRENT_USER_HANDLE -2147483647
!define HKEY_LOCAL_MACHINE_HANDLE -2147483646

Unicode true
; The DLL is 64-bit, so the installer is too: it loads the DLL to call its entry points.
Target amd64-unicode
SetCompressor /SOLID lzma
ManifestSupportedOS all

Name "${PRODUCT_NAME}"
OutFile "${OUTFILE}"
BrandingText "${PRODUCT_NAME} ${VERSION}"
ShowInstDetails show
ShowUninstDetails show

!define MULTIUSER_EXECUTIONLEVEL Highest
!define MULTIUSER_INSTALLMODE_COMMANDLINE
!define MULTIUSER_INSTALLMODE_INSTDIR "${PRODUCT}"
!define MULTIUSER_USE_PROGRAMFILES64
!define MULTIUSER_INSTALLMODE_INSTDIR_REGISTRY_KEY "${UNINSTALL_KEY}"
!define MULTIUSER_INSTALLMODE_INSTDIR_REGISTRY_VALUENAME "InstallLocation"
!define MULTIUSER_INSTALLMODE_DEFAULT_REGISTRY_KEY "${UNINSTALL_KEY}"
!define MULTIUSER_INSTALLMODE_DEFAULT_REGISTRY_VALUENAME "InstallMode"
!include MultiUser.nsh
!include LogicLib.nsh

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Var ClassesKey  ; the chosen hive's Software\Classes, open while HKCR points at it
Var ModeSwitch  ; /AllUsers or /CurrentUser, so the uninstaller works on the same hive

; Points HKEY_CLASSES_ROOT of this process at <hive>\Software\Classes, so that what the DLL
; writes to HKCR goes to the hive of the install mode and nowhere else.
!macro RedirectClassesRoot UN
Function ${UN}RedirectClassesRoot
  ${If} $MultiUser.InstallMode == "AllUsers"
    StrCpy $1 ${HKEY_LOCAL_MACHINE_HANDLE}
  ${Else}
    StrCpy $1 ${HKEY_CURRENT_USER_HANDLE}
  ${EndIf}
  System::Call 'advapi32::RegCreateKeyExW(p r1, w "Software\Classes", i 0, p 0, i 0, i ${KEY_ALL_ACCESS}, p 0, *p .r2, p 0) i .r0'
  ${If} $0 != 0
    StrCpy $ClassesKey ""
    DetailPrint "Cannot open the classes key of $MultiUser.InstallMode (error $0)"
    Return
  ${EndIf}
  StrCpy $ClassesKey $2
  System::Call 'advapi32::RegOverridePredefKey(p ${HKEY_CLASSES_ROOT_HANDLE}, p $ClassesKey) i .r0'
  ${If} $0 != 0
    DetailPrint "Cannot redirect HKEY_CLASSES_ROOT (error $0)"
    System::Call 'advapi32::RegCloseKey(p $ClassesKey)'
    StrCpy $ClassesKey ""
  ${EndIf}
FunctionEnd

Function ${UN}RestoreClassesRoot
  System::Call 'advapi32::RegOverridePredefKey(p ${HKEY_CLASSES_ROOT_HANDLE}, p 0)'
  ${If} $ClassesKey != ""
    System::Call 'advapi32::RegCloseKey(p $ClassesKey)'
    StrCpy $ClassesKey ""
  ${EndIf}
FunctionEnd
!macroend
!insertmacro RedirectClassesRoot ""
!insertmacro RedirectClassesRoot "un."

!macro AnnounceAssociations
  System::Call 'shell32::SHChangeNotify(i ${SHCNE_ASSOCCHANGED}, i 0, p 0, p 0)'
!macroend

Function .onInit
  ; No InstallDir is set, so $INSTDIR holds something only when /D= gave it; the install mode
  ; must not override that choice.
  StrCpy $3 $INSTDIR
  !insertmacro MULTIUSER_INIT
  ${If} $3 != ""
    StrCpy $INSTDIR $3
  ${EndIf}
FunctionEnd

Function un.onInit
  !insertmacro MULTIUSER_UNINIT
FunctionEnd

Section "Install"
  StrCpy $ModeSwitch "/$MultiUser.InstallMode"
  SetOutPath "$INSTDIR"
  ClearErrors
  File "/oname=RvtThumbDll.dll" "${DLL}"
  ${If} ${Errors}
    SetErrorLevel 2
    Abort "Cannot write $INSTDIR\RvtThumbDll.dll"
  ${EndIf}

  Call RedirectClassesRoot
  ${If} $ClassesKey == ""
    SetOutPath "$TEMP"  ; the folder cannot go while it is the current one
    Delete "$INSTDIR\RvtThumbDll.dll"
    RMDir "$INSTDIR"
    SetErrorLevel 2
    Abort "Registration is not possible for $MultiUser.InstallMode"
  ${EndIf}
  ClearErrors
  RegDLL "$INSTDIR\RvtThumbDll.dll"
  ${If} ${Errors}
    ; What registration wrote before it failed goes again; then nothing is left behind.
    UnRegDLL "$INSTDIR\RvtThumbDll.dll"
    Call RestoreClassesRoot
    SetOutPath "$TEMP"  ; the folder cannot go while it is the current one
    Delete "$INSTDIR\RvtThumbDll.dll"
    RMDir "$INSTDIR"
    SetErrorLevel 2
    Abort "RvtThumbDll.dll did not register"
  ${EndIf}
  Call RestoreClassesRoot

  WriteUninstaller "$INSTDIR\uninstall.exe"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT_NAME}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallMode" "$MultiUser.InstallMode"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe" $ModeSwitch'
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S $ModeSwitch'
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1

  !insertmacro AnnounceAssociations
SectionEnd

Section "Uninstall"
  Call un.RedirectClassesRoot
  ${If} $ClassesKey != ""
    ClearErrors
    UnRegDLL "$INSTDIR\RvtThumbDll.dll"
    ${If} ${Errors}
      DetailPrint "RvtThumbDll.dll reported no registration to remove"
    ${EndIf}
    Call un.RestoreClassesRoot
  ${EndIf}
  ; The keys above the handler key, when registration made them and nothing else uses them.
  DeleteRegKey /ifempty SHCTX "Software\Classes\.kwb\shellex"
  DeleteRegKey /ifempty SHCTX "Software\Classes\.kwb"

  ; Explorer may still hold the DLL; then it goes at the next restart.
  Delete /REBOOTOK "$INSTDIR\RvtThumbDll.dll"
  Delete "$INSTDIR\uninstall.exe"
  RMDir /REBOOTOK "$INSTDIR"
  DeleteRegKey SHCTX "${UNINSTALL_KEY}"

  !insertmacro AnnounceAssociations
SectionEnd

; Installer of the .kwb thumbnail handler (RvtThumbDll.dll), both architectures in one 32-bit
; installer. Made by scripts/package-windows:
;   makensis -DDLL64=... -DREGSERVER64=... -DDLL32=... -DREGSERVER32=... -DOUTFILE=... [-DVERSION=x.y.z] kwbthumb.nsi
;
;   kwbthumb-setup.exe [/S] [/AllUsers | /CurrentUser] [/D=FOLDER]
;
; On 64-bit Windows it installs the 64-bit DLL in the folder and the 32-bit one in its x86
; subfolder, and registers each in its own registry view: 64-bit Explorer loads the first,
; the open and save dialogs of 32-bit programs the second. On 32-bit Windows it installs only
; the 32-bit DLL, in the folder itself.
;
; Per machine (the default for an administrator; Program Files, classes under HKLM) or per
; user (the default otherwise; the user's program folder, classes under HKCU\Software\Classes).
; Registration is each DLL's own DllRegisterServer, run by regserver.exe of the same
; architecture (this installer is 32-bit and cannot load a 64-bit DLL) with
; HKEY_CLASSES_ROOT pointed at the chosen hive, so the keys are the ones the DLL writes, in
; the hive the mode says and the view of the DLL's architecture. The uninstaller calls
; DllUnregisterServer the same way and removes the files.

!macro Require NAME
  !ifndef ${NAME}
    !error "define DLL64, REGSERVER64, DLL32 and REGSERVER32 (the files of both architectures) and VERSION"
  !endif
!macroend
!insertmacro Require DLL64
!insertmacro Require DLL32
!insertmacro Require REGSERVER64
!insertmacro Require REGSERVER32
!insertmacro Require VERSION
!ifndef OUTFILE
  !define OUTFILE "kwbthumb-setup.exe"
!endif

!define PRODUCT "KwbThumb"
!define PRODUCT_NAME "KwbThumb thumbnail handler"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"
!define SHCNE_ASSOCCHANGED 0x08000000

Unicode true
; 32-bit, so that one installer runs on 32-bit and 64-bit Windows.
Target x86-unicode
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
!include x64.nsh

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Var ModeSwitch  ; /AllUsers or /CurrentUser, so the uninstaller works on the same hive

!macro AnnounceAssociations
  System::Call 'shell32::SHChangeNotify(i ${SHCNE_ASSOCCHANGED}, i 0, p 0, p 0)'
!macroend

; Runs DIR\regserver.exe on DIR\RvtThumbDll.dll for the install mode's hive; $0 is its exit
; code (0 registered), or "error" when it cannot be started.
!macro RegServerFunction UN
Function ${UN}RegServer  ; stack: DIR, then "" or "/u"
  Exch $1  ; DIR
  Exch
  Exch $2  ; "" or /u
  ${If} $MultiUser.InstallMode == "AllUsers"
    StrCpy $0 "/machine"
  ${Else}
    StrCpy $0 "/user"
  ${EndIf}
  ; Not started in the folder: a process's working folder cannot be removed until the system
  ; lets go of it, and a failed install removes the folder right after.
  SetOutPath "$TEMP"
  ClearErrors
  ExecWait '"$1\regserver.exe" $0 $2 "$1\RvtThumbDll.dll"' $0
  ${If} ${Errors}
    StrCpy $0 "error"
  ${EndIf}
  DetailPrint "regserver $2 $1\RvtThumbDll.dll: $0"
  Pop $2
  Pop $1
FunctionEnd
!macroend
!insertmacro RegServerFunction ""
!insertmacro RegServerFunction "un."

!macro RegServer UN DIR FLAG
  Push "${FLAG}"
  Push "${DIR}"
  Call ${UN}RegServer
!macroend

; Replaces a file that Explorer may hold loaded: such a file cannot be overwritten or deleted,
; but it can be renamed; the old copy goes at the next restart.
!macro ReplaceFile SOURCE TARGET
  Delete "${TARGET}.old"
  Delete "${TARGET}"
  ${If} ${FileExists} "${TARGET}"
    Rename "${TARGET}" "${TARGET}.old"
    Delete /REBOOTOK "${TARGET}.old"
  ${EndIf}
  ClearErrors
  File "/oname=${TARGET}" "${SOURCE}"
  ${If} ${Errors}
    SetErrorLevel 2
    Abort "Cannot write ${TARGET}"
  ${EndIf}
!macroend

; The registry view of the uninstall entry and the install location: the native one.
!macro NativeRegView
  ${If} ${RunningX64}
    SetRegView 64
  ${EndIf}
!macroend

Function .onInit
  !insertmacro NativeRegView
  ; No InstallDir is set, so $INSTDIR holds something only when /D= gave it; the install mode
  ; must not override that choice.
  StrCpy $3 $INSTDIR
  !insertmacro MULTIUSER_INIT
  ${If} $3 != ""
    StrCpy $INSTDIR $3
  ${EndIf}
FunctionEnd

Function un.onInit
  !insertmacro NativeRegView
  !insertmacro MULTIUSER_UNINIT
FunctionEnd

; Removes both architectures' registrations and files, as far as they exist.
!macro RemoveEverything UN
  ${If} ${FileExists} "$INSTDIR\x86\regserver.exe"
    !insertmacro RegServer "${UN}" "$INSTDIR\x86" "/u"
  ${EndIf}
  ${If} ${FileExists} "$INSTDIR\regserver.exe"
    !insertmacro RegServer "${UN}" "$INSTDIR" "/u"
  ${EndIf}
  ; The keys above the handler key, when registration made them and nothing else uses them,
  ; in both views (Windows shares them between the views; Wine does not).
  SetRegView 32
  DeleteRegKey /ifempty SHCTX "Software\Classes\.kwb\shellex"
  DeleteRegKey /ifempty SHCTX "Software\Classes\.kwb"
  !insertmacro NativeRegView
  DeleteRegKey /ifempty SHCTX "Software\Classes\.kwb\shellex"
  DeleteRegKey /ifempty SHCTX "Software\Classes\.kwb"

  SetOutPath "$TEMP"  ; the folder cannot go while it is the current one
  ; Explorer may still hold a DLL; then it goes at the next restart.
  Delete /REBOOTOK "$INSTDIR\x86\RvtThumbDll.dll"
  Delete /REBOOTOK "$INSTDIR\x86\RvtThumbDll.dll.old"
  Delete "$INSTDIR\x86\regserver.exe"
  RMDir /REBOOTOK "$INSTDIR\x86"
  Delete /REBOOTOK "$INSTDIR\RvtThumbDll.dll"
  Delete /REBOOTOK "$INSTDIR\RvtThumbDll.dll.old"
  Delete "$INSTDIR\regserver.exe"
!macroend

Section "Install"
  StrCpy $ModeSwitch "/$MultiUser.InstallMode"
  ${If} ${RunningX64}
    SetOutPath "$INSTDIR\x86"
    !insertmacro ReplaceFile "${DLL32}" "$INSTDIR\x86\RvtThumbDll.dll"
    !insertmacro ReplaceFile "${REGSERVER32}" "$INSTDIR\x86\regserver.exe"
    SetOutPath "$INSTDIR"
    !insertmacro ReplaceFile "${DLL64}" "$INSTDIR\RvtThumbDll.dll"
    !insertmacro ReplaceFile "${REGSERVER64}" "$INSTDIR\regserver.exe"
    ; The 32-bit one first: where the views share a key (Wine keeps per-user classes in one
    ; view), the 64-bit registration, which 64-bit Explorer reads, is the one that stays.
    !insertmacro RegServer "" "$INSTDIR\x86" ""
    ${If} $0 == 0
      !insertmacro RegServer "" "$INSTDIR" ""
    ${EndIf}
  ${Else}
    SetOutPath "$INSTDIR"
    !insertmacro ReplaceFile "${DLL32}" "$INSTDIR\RvtThumbDll.dll"
    !insertmacro ReplaceFile "${REGSERVER32}" "$INSTDIR\regserver.exe"
    !insertmacro RegServer "" "$INSTDIR" ""
  ${EndIf}
  ${If} $0 != 0
    ; What registration wrote before it failed goes again; then nothing is left behind.
    !insertmacro RemoveEverything ""
    RMDir "$INSTDIR"
    SetErrorLevel 2
    Abort "RvtThumbDll.dll did not register"
  ${EndIf}

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
  !insertmacro RemoveEverything "un."
  Delete "$INSTDIR\uninstall.exe"
  RMDir /REBOOTOK "$INSTDIR"
  DeleteRegKey SHCTX "${UNINSTALL_KEY}"

  !insertmacro AnnounceAssociations
SectionEnd

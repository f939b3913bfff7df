; Installer of the .kwb thumbnail handler (RvtThumbDll.dll), both architectures in one 32-bit
; installer. Made by scripts/package-windows:
;   makensis -DDLL64=... -DREGSERVER64=... -DDLL32=... -DREGSERVER32=... -DLICENSE=LICENSE.txt
;            -DNOTICES=THIRD-PARTY-NOTICES.txt -DLICENSE_PAGE=both.txt -DHELP=README.txt
;            -DVERSION=x.y.z [-DURL=...] [-DOUTFILE=...] [-DSIZE64_KB=... -DSIZE32_KB=...] kwbthumb.nsi
; SIZE64_KB and SIZE32_KB: the installed files' size on 64- and 32-bit Windows, for the folder page.
; The command line and exit codes are in the usage text below (setup /?) and in README.md.
;
; On 64-bit Windows it installs the 64-bit DLL in the folder and the 32-bit one in its x86
; subfolder, and registers each in its own registry view: 64-bit Explorer loads the first,
; the open and save dialogs of 32-bit programs the second. On 32-bit Windows it installs only
; the 32-bit DLL, in the folder itself.
;
; Per machine (classes under HKLM) or per user (classes under HKCU\Software\Classes), each
; with its own uninstall entry; an uninstaller removes only the installation it belongs to.
; Registration is each DLL's own DllRegisterServer, run by regserver.exe of the same
; architecture (this installer is 32-bit and cannot load a 64-bit DLL) with
; HKEY_CLASSES_ROOT pointed at the chosen hive.
;
; An install is all or nothing: files that are replaced are first renamed aside under names
; unique to this run, and a failed step puts them back and registers them again. An aside
; that Explorer still holds goes at the next install (or, per machine, at the next restart).

!macro Require NAME
  !ifndef ${NAME}
    !error "define DLL64, REGSERVER64, DLL32, REGSERVER32, LICENSE, LICENSE_PAGE, NOTICES, HELP and VERSION"
  !endif
!macroend
!insertmacro Require DLL64
!insertmacro Require DLL32
!insertmacro Require REGSERVER64
!insertmacro Require REGSERVER32
!insertmacro Require LICENSE
!insertmacro Require LICENSE_PAGE
!insertmacro Require NOTICES
!insertmacro Require HELP
!insertmacro Require VERSION
!define /ifndef OUTFILE "kwbthumb-${VERSION}-setup.exe"

!define PRODUCT "KwbThumb"
!define PRODUCT_NAME "KwbThumb thumbnail handler"
!define PUBLISHER "KwbThumb"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"
!define APPROVED_KEY "Software\Microsoft\Windows\CurrentVersion\Shell Extensions\Approved"
!define CLSID "{7A3C51E2-4B9D-4F06-9C18-2D5E8B0F6A47}"
!define CLASS_DESCRIPTION "KwbThumbDll.KwbThumbnailProvider Class"
!define SHCNE_ASSOCCHANGED 0x08000000
!define EXIT_CANCELLED 1
!define EXIT_FAILED 2
!define EXIT_RESTART 3010

Unicode true
; 32-bit, so that one installer runs on 32-bit and 64-bit Windows.
Target x86-unicode
SetCompressor /SOLID lzma
ManifestSupportedOS all
ManifestDPIAware true
; An administrator's token is used when there is one, so "everyone" can be offered; anyone
; else runs as themselves and is offered "just me".
RequestExecutionLevel highest

Name "${PRODUCT_NAME}"
OutFile "${OUTFILE}"
BrandingText "${PRODUCT_NAME} ${VERSION}"
ShowInstDetails hide
ShowUninstDetails hide
; The title bar's last state: NSIS would say "Completed" whatever the outcome.
SubCaption 4 " "
UninstallSubCaption 2 " "
CompletedText "Finished."

!include MUI2.nsh
!include LogicLib.nsh
!include x64.nsh
!include FileFunc.nsh
!include nsDialogs.nsh
!include WinMessages.nsh

VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"

; --- State -----------------------------------------------------------------------------------
Var Params        ; the command line after the program's name
Var Mode          ; AllUsers or CurrentUser
Var ModeGiven     ; 1 when the command line chose the mode (no mode page then)
Var Admin         ; 1 when this process may write machine-wide
Var DirGiven      ; 1 when /D= chose the folder
Var Log           ; handle of the /LOG= file, or ""
Var PrevDir       ; folder of the installation this mode already has, or ""
Var CreatedTop    ; the highest folder this run created, or ""
Var Unique        ; suffix of this run's aside names
Var Failure       ; words saying why the run failed
Var FinishText
Var Quiet         ; 1 while undoing: expected failures are not reported
Var Attempted     ; how many DLL registrations this run attempted
Var ModeAllUsers  ; the mode page's radio buttons
Var ModeCurrentUser

; --- Pages -----------------------------------------------------------------------------------
!define MUI_ICON "${__FILEDIR__}\kwbthumb.ico"
!define MUI_UNICON "${__FILEDIR__}\kwbthumb.ico"
!define MUI_ABORTWARNING
!define MUI_CUSTOMFUNCTION_ABORT UserCancelled
!define MUI_CUSTOMFUNCTION_UNABORT un.UserCancelled
!define MUI_ABORTWARNING_TEXT "Stop the setup? Nothing has been changed yet."

!define MUI_WELCOMEPAGE_TITLE "${PRODUCT_NAME} ${VERSION}"
!define MUI_WELCOMEPAGE_TEXT "This sets up thumbnails of .kwb documents in File Explorer and in the open and save dialogs of programs.$\r$\n$\r$\nIt adds no program of its own and changes none of your documents.$\r$\n$\r$\nClick Next to continue."
!insertmacro MUI_PAGE_WELCOME
!define MUI_LICENSEPAGE_TEXT_TOP "The licence of ${PRODUCT}, then the notices of the libraries built into it."
!insertmacro MUI_PAGE_LICENSE "$(LicenseText)"
Page custom ModePageShow ModePageLeave
!define MUI_PAGE_CUSTOMFUNCTION_LEAVE DirectoryLeave
!insertmacro MUI_PAGE_DIRECTORY
!define MUI_INSTFILESPAGE_FINISHHEADER_TEXT "Installed"
!define MUI_INSTFILESPAGE_FINISHHEADER_SUBTEXT "${PRODUCT_NAME} ${VERSION} is installed."
!define MUI_INSTFILESPAGE_ABORTHEADER_TEXT "Setup failed"
!define MUI_INSTFILESPAGE_ABORTHEADER_SUBTEXT "Nothing was changed: what was there before is as it was. Show details for the reason."
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_TITLE "${PRODUCT_NAME} is installed"
!define MUI_FINISHPAGE_TEXT "$FinishText"
!define MUI_FINISHPAGE_NOREBOOTSUPPORT
; The progress page stays until Next, so its result can be read.
!define MUI_FINISHPAGE_NOAUTOCLOSE
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!define /redef MUI_INSTFILESPAGE_FINISHHEADER_TEXT "Removed"
!define /redef MUI_INSTFILESPAGE_FINISHHEADER_SUBTEXT "${PRODUCT_NAME} was removed."
!define /redef MUI_INSTFILESPAGE_ABORTHEADER_TEXT "Removal failed"
!define /redef MUI_INSTFILESPAGE_ABORTHEADER_SUBTEXT "The handler is still installed and works. Show details for the reason."
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "English"
LicenseLangString LicenseText ${LANG_ENGLISH} "${LICENSE_PAGE}"

VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductName" "${PRODUCT_NAME}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "CompanyName" "${PUBLISHER}"
; The uninstaller is written from the same program and carries the same resource.
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileDescription" "${PRODUCT_NAME} installer and uninstaller"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "LegalCopyright" "MIT licence; see LICENSE.txt"

!define USAGE "${PRODUCT_NAME} ${VERSION} setup$\r$\n\
$\r$\n  setup [/S] [/AllUsers | /CurrentUser] [/LOG=FILE] [/D=FOLDER]$\r$\n\
$\r$\n  /S            silent: no pages, no messages; the exit code is the result\
$\r$\n  /AllUsers     for every user of this computer (needs an administrator)\
$\r$\n  /CurrentUser  for you alone (no administrator rights needed)\
$\r$\n  /LOG=FILE     add what setup does to FILE\
$\r$\n  /D=FOLDER     install into FOLDER; last on the line, without quotes\
$\r$\n  /?            show this text$\r$\n\
$\r$\nWithout /AllUsers or /CurrentUser an administrator installs for every user,\
$\r$\nanyone else for themselves. The folder defaults to the one already installed\
$\r$\nin that mode; another folder moves the installation there.$\r$\n\
$\r$\nExit codes: 0 installed; 1 cancelled; 2 failed (what was there before is\
$\r$\nleft as it was); 3010 installed, restart Windows to finish.$\r$\n\
$\r$\nRemoval: $\"FOLDER\\uninstall.exe$\" [/S] [/LOG=FILE], the same exit codes.$\r$\n"

; --- Helpers shared by the installer and the uninstaller ----------------------------------------
!macro Shared UN
; Say TEXT: a line in the details and in the log.
; The details hold only these lines, in words: NSIS's own (file names, output folders) are off.
Function ${UN}Say
  Exch $0
  SetDetailsPrint both
  DetailPrint "$0"
  SetDetailsPrint none
  ${If} $Log != ""
    FileWrite $Log "$0$\r$\n"
  ${EndIf}
  Pop $0
FunctionEnd

; Opens the /LOG= file for appending; one that cannot be written is a failure.
Function ${UN}OpenLog
  ClearErrors
  ${GetOptions} $Params "/LOG=" $0
  ${If} ${Errors}
  ${OrIf} $0 == ""
    Return
  ${EndIf}
  ClearErrors
  FileOpen $Log "$0" a
  ${If} ${Errors}
    StrCpy $Log ""
    ${IfNot} ${Silent}
      MessageBox MB_OK|MB_ICONSTOP "Cannot write the log file $0."
    ${EndIf}
    SetErrorLevel ${EXIT_FAILED}
    Quit
  ${EndIf}
  FileSeek $Log 0 END
FunctionEnd

; Quits before any page with TEXT: in the log, and in a message box only when not silent.
Function ${UN}QuitEarly
  Exch $0
  ${If} $Log != ""
    FileWrite $Log "$0$\r$\n"
    FileClose $Log
  ${EndIf}
  ${IfNot} ${Silent}
    MessageBox MB_OK|MB_ICONSTOP "$0"
  ${EndIf}
  SetErrorLevel ${EXIT_FAILED}
  Quit
FunctionEnd

; Reads /AllUsers and /CurrentUser into $Mode ("" when neither); both at once is an error.
Function ${UN}ReadModeOptions
  StrCpy $Mode ""
  StrCpy $ModeGiven 0
  ClearErrors
  ${GetOptions} $Params "/AllUsers" $0
  ${IfNot} ${Errors}
    StrCpy $Mode AllUsers
    StrCpy $ModeGiven 1
  ${EndIf}
  ClearErrors
  ${GetOptions} $Params "/CurrentUser" $0
  ${IfNot} ${Errors}
    ${If} $Mode != ""
      Push "/AllUsers and /CurrentUser cannot be given together."
      Call ${UN}QuitEarly
    ${EndIf}
    StrCpy $Mode CurrentUser
    StrCpy $ModeGiven 1
  ${EndIf}
  UserInfo::GetAccountType
  Pop $0
  ${If} $0 == "Admin"
    StrCpy $Admin 1
  ${Else}
    StrCpy $Admin 0
  ${EndIf}
FunctionEnd

; The registry view of the uninstall entry and the install location: the native one.
Function ${UN}NativeRegView
  ${If} ${RunningX64}
    SetRegView 64
  ${Else}
    SetRegView 32
  ${EndIf}
FunctionEnd

; Makes $Mode's hive the one SHCTX means, and $PrevDir its recorded folder.
Function ${UN}ApplyMode
  ${If} $Mode == AllUsers
    SetShellVarContext all
  ${Else}
    SetShellVarContext current
  ${EndIf}
  Call ${UN}NativeRegView
  ReadRegStr $PrevDir SHCTX "${UNINSTALL_KEY}" "InstallLocation"
FunctionEnd

; RegServer DIR FLAG: runs DIR\regserver.exe (hidden, its output kept) on DIR\RvtThumbDll.dll
; for $Mode's hive; FLAG is "" or "/u". $0 is "0" when it succeeded; otherwise $Failure says why.
Function ${UN}RegServer
  Exch $2  ; FLAG
  Exch
  Exch $1  ; DIR
  Push $3
  ${If} $Mode == AllUsers
    StrCpy $3 "/machine"
  ${Else}
    StrCpy $3 "/user"
  ${EndIf}
  ; Not started in the folder: a process's working folder cannot be removed while it runs.
  SetOutPath "$TEMP"
  nsExec::ExecToStack '"$1\regserver.exe" $3 $2 "$1\RvtThumbDll.dll"'
  Pop $0  ; exit code, or "error" when it could not start
  Pop $3  ; what it printed
  ${If} $0 != 0
    ${If} $2 == "/u"
      StrCpy $Failure "Could not remove the registration of $1\RvtThumbDll.dll"
    ${Else}
      StrCpy $Failure "Could not register $1\RvtThumbDll.dll"
    ${EndIf}
    ${If} $0 == "error"
      StrCpy $Failure "$Failure: $1\regserver.exe did not start."
    ${Else}
      StrCpy $Failure "$Failure (regserver exit code $0): $3"
    ${EndIf}
    ${If} $Quiet != 1
      Push $Failure
      Call ${UN}Say
    ${EndIf}
  ${EndIf}
  Pop $3
  Pop $1
  Pop $2
FunctionEnd

; Writes or removes the Approved entry in $Mode's hive, in both views (Explorer of either
; architecture reads its own).
Function ${UN}Approve  ; stack: 1 to add, 0 to remove
  Exch $0
  ${If} ${RunningX64}
    SetRegView 32
    ${If} $0 == 1
      WriteRegStr SHCTX "${APPROVED_KEY}" "${CLSID}" "${CLASS_DESCRIPTION}"
    ${Else}
      DeleteRegValue SHCTX "${APPROVED_KEY}" "${CLSID}"
    ${EndIf}
  ${EndIf}
  Call ${UN}NativeRegView
  ${If} $0 == 1
    WriteRegStr SHCTX "${APPROVED_KEY}" "${CLSID}" "${CLASS_DESCRIPTION}"
  ${Else}
    DeleteRegValue SHCTX "${APPROVED_KEY}" "${CLSID}"
  ${EndIf}
  Pop $0
FunctionEnd

; Removes FILE, or, when something holds it (Explorer with a DLL loaded), renames it aside
; under this run's unique name: per machine it goes at the next restart, per user at the next
; install. Either way a restart is needed to finish.
Function ${UN}RemoveFile
  Exch $0
  ${If} ${FileExists} "$0"
    ClearErrors
    Delete "$0"
    ${If} ${FileExists} "$0"
      Rename "$0" "$0.$Unique.old"
      ${If} $Mode == AllUsers
        Delete /REBOOTOK "$0.$Unique.old"
      ${EndIf}
      SetRebootFlag true
      Push "$0 is in use; it goes when Windows restarts."
      Call ${UN}Say
    ${EndIf}
  ${EndIf}
  Pop $0
FunctionEnd

; Deletes what earlier runs renamed aside in DIR and DIR\x86, where nothing holds it any more.
; One still held means a program still runs the old version: a restart finishes the job.
Function ${UN}CleanAsides
  Exch $0
  ${If} $0 != ""
    Delete "$0\RvtThumbDll.dll.*.old"
    Delete "$0\regserver.exe.*.old"
    Delete "$0\x86\RvtThumbDll.dll.*.old"
    Delete "$0\x86\regserver.exe.*.old"
    ${If} ${FileExists} "$0\RvtThumbDll.dll.*.old"
    ${OrIf} ${FileExists} "$0\x86\RvtThumbDll.dll.*.old"
      SetRebootFlag true
    ${EndIf}
  ${EndIf}
  Pop $0
FunctionEnd

Function ${UN}NewUnique
  System::Call 'kernel32::GetCurrentProcessId() i .r0'
  System::Call 'kernel32::GetTickCount() i .r1'
  StrCpy $Unique "$0-$1"
FunctionEnd

; Keys above the handler key, when registration made them and nothing else uses them, in
; both views (Windows shares them between the views; Wine does not).
Function ${UN}RemoveEmptyTypeKeys
  ${If} ${RunningX64}
    SetRegView 32
    DeleteRegKey /ifempty SHCTX "Software\Classes\.kwb\shellex"
    DeleteRegKey /ifempty SHCTX "Software\Classes\.kwb"
  ${EndIf}
  Call ${UN}NativeRegView
  DeleteRegKey /ifempty SHCTX "Software\Classes\.kwb\shellex"
  DeleteRegKey /ifempty SHCTX "Software\Classes\.kwb"
FunctionEnd

Function ${UN}AnnounceAssociations
  System::Call 'shell32::SHChangeNotify(i ${SHCNE_ASSOCCHANGED}, i 0, p 0, p 0)'
FunctionEnd

!macroend
!insertmacro Shared ""
!insertmacro Shared "un."

; VAR = the folder of the first DLL to register: on 64-bit Windows the x86 one (where the
; views share a key, the 64-bit registration, which 64-bit Explorer reads, then stays),
; followed by DIR itself; on 32-bit Windows DIR alone.
!macro FirstDllFolder DIR VAR
  ${If} ${RunningX64}
    StrCpy ${VAR} "${DIR}\x86"
  ${Else}
    StrCpy ${VAR} "${DIR}"
  ${EndIf}
!macroend

!macro Say TEXT
  Push "${TEXT}"
  Call Say
!macroend
!macro UnSay TEXT
  Push "${TEXT}"
  Call un.Say
!macroend

; --- Installer: command line and pages ---------------------------------------------------------
Function PrintUsage
  ; A redirected standard output first; else the console of the command prompt that started us.
  System::Call 'kernel32::GetStdHandle(i -11) p .r0'
  ${If} $0 P= 0
  ${OrIf} $0 P= -1
    System::Call 'kernel32::AttachConsole(i -1) i .r1'
    ${If} $1 != 0
      System::Call 'kernel32::CreateFileW(w "CONOUT$$", i 0x40000000, i 3, p 0, i 3, i 0, p 0) p .r0'
    ${EndIf}
  ${EndIf}
  ${If} $0 P<> 0
  ${AndIf} $0 P<> -1
    FileWrite $0 "${USAGE}"
  ${ElseIfNot} ${Silent}
    MessageBox MB_OK "${USAGE}"
  ${EndIf}
FunctionEnd

Function .onInit
  StrCpy $Log ""
  ${GetParameters} $Params
  ClearErrors
  ${GetOptions} $Params "/?" $0
  ${IfNot} ${Errors}
    Call PrintUsage
    SetErrorLevel 0
    Quit
  ${EndIf}
  Call OpenLog
  ; NSIS itself drops a /D= folder it thinks unusable and takes the default instead; the
  ; folder asked for is read from the command line, so such a one fails rather than moves.
  StrCpy $DirGiven 0
  System::Call 'kernel32::GetCommandLineW() w .r0'
  StrLen $2 $0
  StrCpy $1 0
  ${DoWhile} $1 < $2
    StrCpy $3 $0 4 $1
    ${If} $3 S== " /D="
      IntOp $1 $1 + 4
      StrCpy $INSTDIR $0 "" $1
      StrCpy $DirGiven 1
      ${Break}
    ${EndIf}
    IntOp $1 $1 + 1
  ${Loop}
  Call ReadModeOptions
  ${If} $Mode == ""
    ${If} $Admin == 1
      StrCpy $Mode AllUsers
    ${Else}
      StrCpy $Mode CurrentUser
    ${EndIf}
  ${ElseIf} $Mode == AllUsers
  ${AndIf} $Admin != 1
    Push "Installing for every user needs an administrator. Run setup as an administrator, or with /CurrentUser to install for yourself."
    Call QuitEarly
  ${EndIf}
  Call SetModeAndFolder
  Call NewUnique
  ; The space the folder page shows: what this Windows gets, not the sum of every File
  ; command (the 32-bit files appear in both branches).
  !ifdef SIZE64_KB & SIZE32_KB
    ${If} ${RunningX64}
      SectionSetSize 0 ${SIZE64_KB}
    ${Else}
      SectionSetSize 0 ${SIZE32_KB}
    ${EndIf}
  !endif
FunctionEnd

; Applies $Mode; the folder follows it unless /D= chose one: the installed one, else the default.
Function SetModeAndFolder
  Call ApplyMode
  ${If} $DirGiven == 1
    Return
  ${EndIf}
  ${If} $PrevDir != ""
    StrCpy $INSTDIR $PrevDir
  ${ElseIf} $Mode == AllUsers
    StrCpy $INSTDIR "$PROGRAMFILES64\${PRODUCT}"
  ${Else}
    GetKnownFolderPath $0 {5CD7AEE2-2219-4A67-B85D-6C9CE15660CB}  ; FOLDERID_UserProgramFiles
    ${If} $0 == ""
      StrCpy $0 "$LOCALAPPDATA\Programs"
    ${EndIf}
    StrCpy $INSTDIR "$0\${PRODUCT}"
  ${EndIf}
FunctionEnd

Function ModePageShow
  ${If} $ModeGiven == 1
    Abort  ; the command line chose
  ${EndIf}
  !insertmacro MUI_HEADER_TEXT "Who is it for?" "Install the thumbnails for you alone or for everyone who uses this computer."
  nsDialogs::Create 1018
  Pop $0
  ${NSD_CreateRadioButton} 10u 10u -10u 12u "&Just me (no administrator rights needed)"
  Pop $ModeCurrentUser
  ${NSD_CreateRadioButton} 10u 30u -10u 12u "&Everyone who uses this computer"
  Pop $ModeAllUsers
  ${If} $Admin != 1
    EnableWindow $ModeAllUsers 0
    ${NSD_CreateLabel} 22u 46u -22u 24u "Only an administrator can install for everyone: ask one to run this setup."
    Pop $0
  ${EndIf}
  ${If} $Mode == AllUsers
    ${NSD_Check} $ModeAllUsers
  ${Else}
    ${NSD_Check} $ModeCurrentUser
  ${EndIf}
  nsDialogs::Show
FunctionEnd

Function ModePageLeave
  ${NSD_GetState} $ModeAllUsers $0
  ${If} $0 == ${BST_CHECKED}
    StrCpy $Mode AllUsers
  ${Else}
    StrCpy $Mode CurrentUser
  ${EndIf}
  Call SetModeAndFolder
FunctionEnd

Function DirectoryLeave
  ; The page's folder is the user's choice from now on (going back to the mode page keeps it).
  StrCpy $DirGiven 1
FunctionEnd

Function UserCancelled
  SetErrorLevel ${EXIT_CANCELLED}
FunctionEnd

; --- Installer: the work ------------------------------------------------------------------------
; The files of one architecture's folder, as installed on this Windows.
!macro PayloadFiles MACRO
  ${If} ${RunningX64}
    !insertmacro ${MACRO} "${DLL32}" "$INSTDIR\x86\RvtThumbDll.dll"
    !insertmacro ${MACRO} "${REGSERVER32}" "$INSTDIR\x86\regserver.exe"
    !insertmacro ${MACRO} "${DLL64}" "$INSTDIR\RvtThumbDll.dll"
    !insertmacro ${MACRO} "${REGSERVER64}" "$INSTDIR\regserver.exe"
  ${Else}
    !insertmacro ${MACRO} "${DLL32}" "$INSTDIR\RvtThumbDll.dll"
    !insertmacro ${MACRO} "${REGSERVER32}" "$INSTDIR\regserver.exe"
  ${EndIf}
!macroend

; Puts SOURCE at TARGET; a file already there is renamed aside first (a loaded DLL cannot be
; overwritten, but it can be renamed).
!macro PutFile SOURCE TARGET
  ${If} $Failure == ""
    ${If} ${FileExists} "${TARGET}"
      ClearErrors
      Rename "${TARGET}" "${TARGET}.$Unique.old"
      ${If} ${Errors}
        StrCpy $Failure "Could not replace ${TARGET}: it is in use or read-only."
      ${EndIf}
    ${EndIf}
    ${If} $Failure == ""
      ClearErrors
      File "/oname=${TARGET}" "${SOURCE}"
      ${If} ${Errors}
        StrCpy $Failure "Could not write ${TARGET}."
      ${EndIf}
    ${EndIf}
  ${EndIf}
!macroend

; Undoes PutFile: the new file goes, the aside comes back.
!macro RestoreFile SOURCE TARGET
  ${If} ${FileExists} "${TARGET}.$Unique.old"
    Delete "${TARGET}"
    Rename "${TARGET}.$Unique.old" "${TARGET}"
  ${Else}
    Delete "${TARGET}"
  ${EndIf}
!macroend

; Deletes this run's aside of TARGET, or leaves it for later when something holds it.
!macro DropAside SOURCE TARGET
  ${If} ${FileExists} "${TARGET}.$Unique.old"
    Delete "${TARGET}.$Unique.old"
    ${If} ${FileExists} "${TARGET}.$Unique.old"
      ${If} $Mode == AllUsers
        Delete /REBOOTOK "${TARGET}.$Unique.old"
      ${EndIf}
      SetRebootFlag true
      !insertmacro Say "The previous ${TARGET} is in use; Windows uses the new one for programs started from now on and after a restart."
    ${EndIf}
  ${EndIf}
!macroend

; A folder this run may use: an absolute path that exists or can be made, and is writable.
; Records the highest folder it made, so a failure can take exactly those away again.
Function PrepareFolder
  StrCpy $CreatedTop ""
  StrCpy $0 $INSTDIR 2 1
  StrCpy $1 $INSTDIR 2
  ${If} $0 != ":\"
  ${AndIf} $1 != "\\"
    StrCpy $Failure "$INSTDIR is not a full path (such as C:\Tools\${PRODUCT})."
    Return
  ${EndIf}
  ${IfNot} ${FileExists} "$INSTDIR\*.*"
    StrCpy $0 $INSTDIR
    ${Do}
      ${GetParent} $0 $1
      ${If} $1 == ""
      ${OrIf} ${FileExists} "$1\*.*"
        ${ExitDo}
      ${EndIf}
      StrCpy $0 $1
    ${Loop}
    ClearErrors
    CreateDirectory "$INSTDIR"
    ${If} ${Errors}
    ${OrIfNot} ${FileExists} "$INSTDIR\*.*"
      StrCpy $Failure "Cannot create the folder $INSTDIR."
      Return
    ${EndIf}
    StrCpy $CreatedTop $0
  ${EndIf}
  ClearErrors
  FileOpen $0 "$INSTDIR\setup-$Unique.tmp" w
  ${If} ${Errors}
    StrCpy $Failure "Cannot write in the folder $INSTDIR."
    Call RemoveCreatedFolders
    Return
  ${EndIf}
  FileClose $0
  Delete "$INSTDIR\setup-$Unique.tmp"
FunctionEnd

; Removes the (then empty) folders PrepareFolder made, from $INSTDIR up to $CreatedTop.
Function RemoveCreatedFolders
  ${If} $CreatedTop == ""
    Return
  ${EndIf}
  RMDir "$INSTDIR\x86"
  StrCpy $0 $INSTDIR
  ${Do}
    RMDir "$0"
    ${If} $0 == $CreatedTop
      ${ExitDo}
    ${EndIf}
    ${GetParent} $0 $0
  ${LoopUntil} $0 == ""
FunctionEnd

; Registers the new DLLs. On failure: their registration is removed, the previous files come
; back and the previous installation is registered again.
Function RegisterAll
  !insertmacro FirstDllFolder "$INSTDIR" $4
  StrCpy $Attempted 1
  Push $4
  Push ""
  Call RegServer
  ${If} $0 == 0
  ${AndIf} ${RunningX64}
    StrCpy $Attempted 2
    Push "$INSTDIR"
    Push ""
    Call RegServer
  ${EndIf}
FunctionEnd

Function RollBack
  !insertmacro Say "Undoing the changes."
  StrCpy $Quiet 1
  ; What the new DLLs registered (as far as they got) goes first, with them.
  Push $Failure
  !insertmacro FirstDllFolder "$INSTDIR" $4
  ${If} $Attempted >= 1
    Push $4
    Push "/u"
    Call RegServer
  ${EndIf}
  ${If} $Attempted >= 2
    Push "$INSTDIR"
    Push "/u"
    Call RegServer
  ${EndIf}
  Pop $Failure
  !insertmacro PayloadFiles RestoreFile
  Call RemoveEmptyTypeKeys
  StrCpy $Quiet 0
  ; The previous installation, in place or elsewhere, is registered again.
  ${If} $PrevDir != ""
  ${AndIf} $Attempted >= 1
    Push $INSTDIR
    Push $Failure
    StrCpy $INSTDIR $PrevDir
    Call RegisterAll
    ${If} $0 != 0
      !insertmacro Say "The previous installation in $PrevDir could not be registered again."
    ${EndIf}
    Pop $Failure
    Pop $INSTDIR
  ${EndIf}
  RMDir "$INSTDIR\x86"
  Call RemoveCreatedFolders
FunctionEnd

; Removes the previous installation's copy in $PrevDir (the new one is elsewhere and registered).
Function RemovePreviousCopy
  !insertmacro Say "Removing the previous copy in $PrevDir."
  Push $PrevDir
  Call CleanAsides
  Push "$PrevDir\x86\RvtThumbDll.dll"
  Call RemoveFile
  Delete "$PrevDir\x86\regserver.exe"
  RMDir "$PrevDir\x86"
  Push "$PrevDir\RvtThumbDll.dll"
  Call RemoveFile
  Delete "$PrevDir\regserver.exe"
  Delete "$PrevDir\uninstall.exe"
  Delete "$PrevDir\LICENSE.txt"
  Delete "$PrevDir\THIRD-PARTY-NOTICES.txt"
  Delete "$PrevDir\README.txt"
  RMDir "$PrevDir"
FunctionEnd

Function WriteUninstallEntry
  Call NativeRegView
  StrCpy $0 "/$Mode _?=$INSTDIR"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT_NAME}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\uninstall.exe,0"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallMode" "$Mode"
  ; The uninstaller runs in place (_?=), so whoever runs it waits for the work and gets its result.
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe" $0'
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S $0'
  !ifdef URL
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "URLInfoAbout" "${URL}"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "HelpLink" "${URL}"
  !else
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "URLInfoAbout" "$INSTDIR\README.txt"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "HelpLink" "$INSTDIR\README.txt"
  !endif
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1
  ; What is in the folder, each file once (asides of earlier versions not counted).
  ${GetSize} "$INSTDIR" "/S=0K /G=1" $1 $2 $3
  ${GetSize} "$INSTDIR" "/M=*.old /S=0K /G=1" $2 $3 $4
  IntOp $1 $1 - $2
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "EstimatedSize" $1
FunctionEnd

Section "Install"  ; section 0
  SetDetailsPrint none
  StrCpy $Failure ""
  StrCpy $Attempted 0
  ${If} $Mode == AllUsers
    !insertmacro Say "Installing ${PRODUCT_NAME} ${VERSION} for every user into $INSTDIR."
  ${Else}
    !insertmacro Say "Installing ${PRODUCT_NAME} ${VERSION} for you into $INSTDIR."
  ${EndIf}
  Call PrepareFolder
  ${If} $Failure != ""
    Push $Failure
    Call Say
    SetDetailsPrint textonly  ; the reason on the status line; the details have it already
    Abort "$Failure"
  ${EndIf}
  ; A previous installation elsewhere whose files are gone is not one to restore or remove.
  ${If} $PrevDir != ""
  ${AndIfNot} ${FileExists} "$PrevDir\RvtThumbDll.dll"
    StrCpy $PrevDir ""
  ${EndIf}
  Push $INSTDIR
  Call CleanAsides
  Push $PrevDir
  Call CleanAsides

  !insertmacro Say "Copying the files."
  ${If} ${RunningX64}
    CreateDirectory "$INSTDIR\x86"
  ${EndIf}
  !insertmacro PayloadFiles PutFile
  ${If} $Failure == ""
    !insertmacro Say "Registering the thumbnail handler."
    Call RegisterAll
  ${Else}
    Push $Failure
    Call Say
  ${EndIf}
  ${If} $Failure != ""
    Call RollBack
    SetDetailsPrint textonly  ; the reason on the status line; the details have it already
    Abort "$Failure"
  ${EndIf}

  ; From here on the new installation works; what follows cannot undo it.
  !insertmacro PayloadFiles DropAside
  ${If} $PrevDir != ""
  ${AndIf} $PrevDir != $INSTDIR
    Call RemovePreviousCopy
  ${EndIf}
  SetOutPath "$INSTDIR"
  File "/oname=LICENSE.txt" "${LICENSE}"
  File "/oname=THIRD-PARTY-NOTICES.txt" "${NOTICES}"
  File "/oname=README.txt" "${HELP}"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  SetOutPath "$TEMP"
  Push 1
  Call Approve
  Call WriteUninstallEntry
  Call AnnounceAssociations

  StrCpy $FinishText "Thumbnails of .kwb documents now appear as you open their folders in File Explorer.$\r$\n$\r$\nDocuments Explorer has already shown keep their old pictures until its thumbnail cache is cleared: run Disk Cleanup, tick $\"Thumbnails$\" and click OK."
  ${If} ${RebootFlag}
    StrCpy $FinishText "$FinishText$\r$\n$\r$\nRestart Windows to finish: File Explorer still holds the previous version."
  ${EndIf}
  !insertmacro Say "Installed."
SectionEnd

Function .onInstSuccess
  ${If} ${RebootFlag}
    SetErrorLevel ${EXIT_RESTART}
    !insertmacro Say "Restart Windows to finish."
  ${EndIf}
  ${If} $Log != ""
    FileClose $Log
  ${EndIf}
FunctionEnd

Function .onInstFailed
  SetErrorLevel ${EXIT_FAILED}
  !insertmacro Say "Setup failed; nothing was changed."
  ${If} $Log != ""
    FileClose $Log
  ${EndIf}
FunctionEnd

; --- Uninstaller --------------------------------------------------------------------------------
; Strips a trailing backslash, so folders compare as the same.
!macro TrimSlash VAR
  StrCpy $R9 ${VAR} 1 -1
  ${If} $R9 == "\"
    StrCpy ${VAR} ${VAR} -1
  ${EndIf}
!macroend

Function un.onInit
  StrCpy $Log ""
  ${GetParameters} $Params
  Call un.OpenLog
  Call un.NewUnique
  Call un.ReadModeOptions
  ; This uninstaller belongs to the installation recorded for its own folder: the mode whose
  ; entry names this folder. One given on the command line must agree.
  Call un.NativeRegView
  !insertmacro TrimSlash $INSTDIR
  ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ReadRegStr $1 HKCU "${UNINSTALL_KEY}" "InstallLocation"
  !insertmacro TrimSlash $0
  !insertmacro TrimSlash $1
  ${If} $Mode == ""
    ${If} $0 == $INSTDIR
      StrCpy $Mode AllUsers
    ${ElseIf} $1 == $INSTDIR
      StrCpy $Mode CurrentUser
    ${EndIf}
  ${EndIf}
  ${If} $Mode == AllUsers
  ${AndIf} $0 != $INSTDIR
    StrCpy $Mode ""
  ${ElseIf} $Mode == CurrentUser
  ${AndIf} $1 != $INSTDIR
    StrCpy $Mode ""
  ${EndIf}
  ${If} $Mode == ""
    Push "No installation of ${PRODUCT_NAME} is recorded for $INSTDIR (with this mode); nothing was removed."
    Call un.QuitEarly
  ${EndIf}
  ${If} $Mode == AllUsers
  ${AndIf} $Admin != 1
    Push "Removing the installation for every user needs an administrator."
    Call un.QuitEarly
  ${EndIf}
  Call un.ApplyMode
FunctionEnd

Function un.UserCancelled
  SetErrorLevel ${EXIT_CANCELLED}
FunctionEnd

; Deletes the running uninstaller and the folder once this process has gone: a hidden batch
; file retries until Windows lets go of the file (a moment after exit), then deletes itself.
Function un.DeleteSelfLater
  Delete "$INSTDIR\uninstall.exe"
  ${IfNot} ${FileExists} "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"
    Return
  ${EndIf}
  StrCpy $1 "$TEMP\kwbthumb-remove-$Unique.cmd"
  ClearErrors
  FileOpen $2 $1 w
  ${If} ${Errors}
    Return
  ${EndIf}
  FileWrite $2 '@echo off$\r$\nset n=0$\r$\n:retry$\r$\n'
  FileWrite $2 'del /f /q "$INSTDIR\uninstall.exe" >nul 2>&1$\r$\n'
  FileWrite $2 'if not exist "$INSTDIR\uninstall.exe" goto done$\r$\n'
  FileWrite $2 'set /a n+=1$\r$\nif %n% geq 60 goto done$\r$\n'
  FileWrite $2 'ping -n 2 127.0.0.1 >nul 2>&1$\r$\ngoto retry$\r$\n:done$\r$\n'
  FileWrite $2 'rmdir "$INSTDIR" >nul 2>&1$\r$\ndel /f /q "%~f0" >nul 2>&1$\r$\n'
  FileClose $2
  ExpandEnvStrings $0 "%COMSPEC%"
  ; Hidden and not waited for: nothing flashes, and this process can end.
  ExecShell "" "$0" '/d /q /c "$1"' SW_HIDE
FunctionEnd

; A removal that failed is no failure when the class no longer names DIR's DLL in DIR's view:
; it is not registered, which is what removal is for. (Wine keeps one per-user class tree for
; both views, so there the second architecture's removal finds the class gone.)
Function un.RegServerRemove  ; stack: DIR
  Exch $1
  StrCpy $Quiet 1
  Push $1
  Push "/u"
  Call un.RegServer
  StrCpy $Quiet 0
  ${If} $0 != 0
    ${If} ${RunningX64}
    ${AndIf} $1 == "$INSTDIR"
      SetRegView 64
    ${Else}
      SetRegView 32
    ${EndIf}
    ReadRegStr $2 SHCTX "Software\Classes\CLSID\${CLSID}\InprocServer32" ""
    Call un.NativeRegView
    ${If} $2 != "$1\RvtThumbDll.dll"
      StrCpy $0 0
      StrCpy $Failure ""
    ${Else}
      Push $Failure
      Call un.Say
    ${EndIf}
  ${EndIf}
  Pop $1
FunctionEnd

Section "Uninstall"
  SetDetailsPrint none
  StrCpy $Failure ""
  !insertmacro UnSay "Removing ${PRODUCT_NAME} from $INSTDIR."
  ; Both registrations go, or neither: one that fails puts back the one already removed.
  !insertmacro FirstDllFolder "$INSTDIR" $4
  StrCpy $7 ""
  ${If} ${FileExists} "$4\regserver.exe"
    Push $4
    Call un.RegServerRemove
    ${If} $0 == 0
      StrCpy $7 $4
    ${EndIf}
  ${EndIf}
  ${If} $Failure == ""
  ${AndIf} ${RunningX64}
  ${AndIf} ${FileExists} "$INSTDIR\regserver.exe"
    Push "$INSTDIR"
    Call un.RegServerRemove
  ${EndIf}
  ${If} $Failure != ""
    ${If} $7 != ""
      Push $Failure
      Push $7
      Push ""
      Call un.RegServer
      Pop $Failure
    ${EndIf}
    SetDetailsPrint textonly  ; the reason on the status line; the details have it already
    Abort "$Failure"
  ${EndIf}
  Call un.RemoveEmptyTypeKeys
  Push 0
  Call un.Approve

  !insertmacro UnSay "Removing the files."
  SetOutPath "$TEMP"
  Push $INSTDIR
  Call un.CleanAsides
  Push "$INSTDIR\x86\RvtThumbDll.dll"
  Call un.RemoveFile
  Delete "$INSTDIR\x86\regserver.exe"
  RMDir "$INSTDIR\x86"
  Push "$INSTDIR\RvtThumbDll.dll"
  Call un.RemoveFile
  Delete "$INSTDIR\regserver.exe"
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\THIRD-PARTY-NOTICES.txt"
  Delete "$INSTDIR\README.txt"
  Call un.NativeRegView
  DeleteRegKey SHCTX "${UNINSTALL_KEY}"
  Call un.AnnounceAssociations
  Call un.DeleteSelfLater
  !insertmacro UnSay "Removed."
SectionEnd

Function un.onUninstSuccess
  ${If} ${RebootFlag}
    SetErrorLevel ${EXIT_RESTART}
  ${EndIf}
  ${If} $Log != ""
    FileClose $Log
  ${EndIf}
FunctionEnd

Function un.onUninstFailed
  SetErrorLevel ${EXIT_FAILED}
  !insertmacro UnSay "Removal failed; the installation is as it was."
  ${If} $Log != ""
    FileClose $Log
  ${EndIf}
FunctionEnd

; The game's installer: installs Launcher.exe (and the release's starting set
; of game files) for the current user only, without administrator rights,
; writes the two settings the launcher reads, makes the shortcuts and
; registers an uninstaller in the player's Apps list.
;
; Built by the `installer` target (tools/installer/CMakeLists.txt), which
; passes GAME_NAME, PAGE_HOST, LANGUAGES ("en-US|es-ES"), STAGE (the folder
; stage_release.py laid out), TARGET (x86-unicode or amd64-unicode), OUTFILE
; and FILES_HELPER (glimmerhold_files.exe, installation_files.cpp).
;
; Over an existing folder it places every file it carries, replacing older
; ones, Launcher.exe included, and leaves every other file alone (the
; player's own, and what the launcher fetched). The folder's
; version_list.txt names only files on disk as listed: before anything is
; placed it is rewritten to the launcher's entries for files the installer
; does not carry (only when the list is trusted, see TrustVersionList), and
; once every file is placed, the release's entries are added for the files
; that are on disk at the listed size (glimmerhold_files.exe, carried in the
; plug-in folder, with the launcher's own list code). A failure half-way
; leaves a list that names nothing the installer touched: the launcher then
; fetches what is missing or old.
;
; While the launcher or the game runs from the folder nothing is changed:
; the installer (and the uninstaller) says so and offers Retry or Cancel.
;
; Silent use: Setup.exe /S [/LANGUAGE=xx-YY] [/D=FOLDER] (/D last, unquoted).
; Exit codes: 0 installed; 1 cancelled by the player; 2 the folder cannot be
; written or a file could not be placed (nothing is registered); 3 the game is
; already installed in another folder (nothing is changed); 4 the launcher or
; the game is running from the folder (silent: nothing is changed; the
; uninstaller ends with the same code).

Unicode true
Target ${TARGET}
; Per user: no elevation prompt, and the manifest this embeds (asInvoker)
; also keeps Windows from guessing from the file name that it must elevate.
RequestExecutionLevel user
; System-aware: its dialogs are laid out once, at the start-up scale.
ManifestDPIAware true
; Windows 7 to 11 run it as themselves; where the LongPathsEnabled policy is
; on, a game file deeper than MAX_PATH is placed too.
ManifestSupportedOS all
ManifestLongPathAware true
SetCompressor /SOLID lzma

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include nsDialogs.nsh
!include language.nsh

!define SETTINGS_KEY "Software\Quarvo\Glimmerhold"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${GAME_NAME}"

Name "${GAME_NAME}"
OutFile "${OUTFILE}"
; With a code-signing certificate, the build passes the command that signs a
; program in place: the installer and the uninstaller inside it are signed
; as makensis writes them.
!ifdef CODESIGN
  !finalize '${CODESIGN}'
  !uninstfinalize '${CODESIGN}'
!endif
InstallDir "$LOCALAPPDATA\Programs\${GAME_NAME}"
; An existing installation is offered as the folder again.
InstallDirRegKey HKCU "${SETTINGS_KEY}" "InstallPath"
ShowInstDetails nevershow
ShowUninstDetails nevershow

Var PlayerLanguage
Var LanguageBox
Var ListTrusted ; 1 when the uninstaller may remove what version_list.txt names

; Pushes the folder of an installation registered elsewhere than $INSTDIR
; that is still in place, else "". One installation per player: a second one
; would take over the settings and the Apps entry of the first.
Function OtherInstallation
  Push $0
  ReadRegStr $0 HKCU "${SETTINGS_KEY}" "InstallPath"
  ${If} $0 == $INSTDIR
  ${OrIfNot} ${FileExists} "$0\Uninstall.exe"
    StrCpy $0 ""
  ${EndIf}
  Exch $0
FunctionEnd

!define MUI_PAGE_CUSTOMFUNCTION_LEAVE DirectoryLeave
!insertmacro MUI_PAGE_DIRECTORY
Page custom LanguagePage LanguagePageLeave
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN "$INSTDIR\Launcher.exe"
!define MUI_FINISHPAGE_RUN_TEXT "Start ${GAME_NAME} now"
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; Pushes 1 when a file can be made in the folder on the stack, else 0. A
; folder this makes for the test is removed again.
Function CanWrite
  Exch $0
  Push $1
  Push $2
  StrCpy $2 0
  ${IfNot} ${FileExists} "$0\*.*"
    StrCpy $2 1
  ${EndIf}
  ClearErrors
  CreateDirectory "$0"
  FileOpen $1 "$0\.write-test" w
  ${If} ${Errors}
    StrCpy $1 0
  ${Else}
    FileClose $1
    Delete "$0\.write-test"
    StrCpy $1 1
  ${EndIf}
  ${If} $2 == 1
    RMDir "$0"
  ${EndIf}
  StrCpy $0 $1
  Pop $2
  Pop $1
  Exch $0
FunctionEnd

; The helper in the plug-in folder: the installer and the uninstaller each
; carry it (see installation_files.cpp for its commands and exit codes).
!macro CarryFilesHelper
  InitPluginsDir
  File "/oname=$PLUGINSDIR\glimmerhold_files.exe" "${FILES_HELPER}"
!macroend

; Returns once neither the launcher nor the game runs from $INSTDIR; while
; one does, offers Retry or Cancel. Cancel (and silent use) ends with exit
; code 4, nothing changed; a helper that cannot run ends with 2.
!macro WaitUntilClosed un
Function ${un}WaitUntilClosed
  ${Do}
    StrCpy $0 ""
    ExecWait '"$PLUGINSDIR\glimmerhold_files.exe" in-use "$INSTDIR"' $0
    ${If} $0 == 0
      Return
    ${ElseIf} $0 != 1
      MessageBox MB_ICONSTOP|MB_OK "The files in $INSTDIR could not be checked." /SD IDOK
      SetErrorLevel 2
      Quit
    ${EndIf}
    MessageBox MB_ICONEXCLAMATION|MB_RETRYCANCEL "${GAME_NAME} or its launcher is running from $INSTDIR.$\r$\nClose it, then choose Retry." /SD IDCANCEL IDRETRY retry
    SetErrorLevel 4
    Quit
    retry:
  ${Loop}
FunctionEnd
!macroend
!insertmacro WaitUntilClosed ""
!insertmacro WaitUntilClosed "un."

Function .onInit
  ; The language: the command line's /LANGUAGE=, else the one an earlier
  ; installation recorded, else the system's; each taken only when the
  ; launcher page offers it (or a language with the same two letters).
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/LANGUAGE=" $1
  ${IfNot} ${Errors}
    Push $1
    Call MatchLanguage
    Pop $PlayerLanguage
  ${EndIf}
  ${If} $PlayerLanguage == ""
    ReadRegStr $1 HKCU "${SETTINGS_KEY}" "Lenguaje_h144357406"
    Push $1
    Call MatchLanguage
    Pop $PlayerLanguage
  ${EndIf}
  ${If} $PlayerLanguage == ""
    System::Call 'kernel32::GetUserDefaultLocaleName(w .r1, i ${NSIS_MAX_STRLEN})'
    Push $1
    Call MatchLanguage
    Pop $PlayerLanguage
  ${EndIf}
  ${If} $PlayerLanguage == ""
    StrCpy $PlayerLanguage ${DEFAULT_LANGUAGE}
  ${EndIf}
FunctionEnd

Function DirectoryLeave
  Call OtherInstallation
  Pop $0
  ${If} $0 != ""
    MessageBox MB_ICONEXCLAMATION|MB_OK "${GAME_NAME} is already installed in$\r$\n$0$\r$\nUninstall it first to install it elsewhere."
    Abort
  ${EndIf}
  Push $INSTDIR
  Call CanWrite
  Pop $0
  ${If} $0 != 1
    MessageBox MB_ICONEXCLAMATION|MB_OK "${GAME_NAME} cannot be installed in$\r$\n$INSTDIR$\r$\nbecause you cannot write there. Choose a folder of your own, such as the one offered first."
    Abort
  ${EndIf}
FunctionEnd

Function LanguagePage
  !insertmacro MUI_HEADER_TEXT "Language" "The language of ${GAME_NAME} and its launcher."
  nsDialogs::Create 1018
  Pop $0
  ${NSD_CreateLabel} 0 0 100% 12u "Language:"
  Pop $0
  ${NSD_CreateDropList} 0 14u 60u 80u ""
  Pop $LanguageBox
  !insertmacro AddLanguages $LanguageBox
  ${NSD_CB_SelectString} $LanguageBox $PlayerLanguage
  nsDialogs::Show
FunctionEnd

Function LanguagePageLeave
  ${NSD_GetText} $LanguageBox $PlayerLanguage
FunctionEnd

Section "Install"
  Call OtherInstallation
  Pop $0
  ${If} $0 != ""
    MessageBox MB_ICONSTOP|MB_OK "${GAME_NAME} is already installed in $0. Uninstall it first to install it elsewhere." /SD IDOK
    SetErrorLevel 3
    Abort
  ${EndIf}
  Push $INSTDIR
  Call CanWrite
  Pop $0
  ${If} $0 != 1
    MessageBox MB_ICONSTOP|MB_OK "${GAME_NAME} cannot be installed in $INSTDIR: you cannot write there." /SD IDOK
    SetErrorLevel 2
    Abort
  ${EndIf}
  !insertmacro CarryFilesHelper
  Call WaitUntilClosed
  ; The folder's list is the launcher's when the folder is registered here
  ; (trusted as far as it was before) or was new or empty; a
  ; version_list.txt found anywhere else is the player's or someone else's,
  ; and nothing of it is kept.
  ReadRegStr $0 HKCU "${UNINSTALL_KEY}" "InstallLocation"
  ${DirState} "$INSTDIR" $1
  ${If} $0 == $INSTDIR
  ${AndIf} ${FileExists} "$INSTDIR\Uninstall.exe"
    ReadRegDWORD $ListTrusted HKCU "${UNINSTALL_KEY}" "TrustVersionList"
  ${ElseIf} $1 == 1
    StrCpy $ListTrusted 0
  ${Else}
    StrCpy $ListTrusted 1
  ${EndIf}
  ${If} $ListTrusted != 1
    StrCpy $ListTrusted 0
  ${EndIf}
  File "/oname=$PLUGINSDIR\placed_names.txt" "${STAGE}\placed_names.txt"
  File "/oname=$PLUGINSDIR\version_list.txt" "${STAGE}\carried\version_list.txt"
  ; Before anything is placed: the list keeps only entries of files the
  ; installer does not carry, so that it names nothing old whatever happens
  ; next.
  CreateDirectory "$INSTDIR"
  ClearErrors
  ExecWait '"$PLUGINSDIR\glimmerhold_files.exe" write-list "$INSTDIR" "$PLUGINSDIR\placed_names.txt" $ListTrusted' $0
  ${If} ${Errors}
  ${OrIf} $0 != 0
    MessageBox MB_ICONSTOP|MB_OK "The list of files in $INSTDIR could not be written. ${GAME_NAME} was not installed." /SD IDOK
    SetErrorLevel 2
    Abort
  ${EndIf}
  ; Every file replaces the one there. A file that cannot be written offers
  ; Retry or Cancel (silent: Cancel), never to skip it.
  SetOverwrite on
  AllowSkipFiles off
  ClearErrors
  !include "${STAGE}\install_files.nsh"
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  ${If} ${Errors}
    MessageBox MB_ICONSTOP|MB_OK "Some files could not be written to $INSTDIR. ${GAME_NAME} was not installed." /SD IDOK
    SetErrorLevel 2
    Abort
  ${EndIf}
  ; Every file is in place: the release's entries for the files on disk as
  ; listed, after the launcher's entries kept above.
  ClearErrors
  ExecWait '"$PLUGINSDIR\glimmerhold_files.exe" write-list "$INSTDIR" "$PLUGINSDIR\placed_names.txt" 1 "$PLUGINSDIR\version_list.txt"' $0
  ${If} ${Errors}
  ${OrIf} $0 != 0
    MessageBox MB_ICONSTOP|MB_OK "The list of files in $INSTDIR could not be written. ${GAME_NAME} was not installed." /SD IDOK
    SetErrorLevel 2
    Abort
  ${EndIf}
  ; A signed release's record ("version_release.txt"), once its list is
  ; written: from then on the launcher refuses every older release. Only
  ; forward, and only for a signature that verifies under the launcher's
  ; keys; an unsigned installer has none to write.
!if /FileExists "${STAGE}\carried\version_list.sig"
  File "/oname=$PLUGINSDIR\version_list.sig" "${STAGE}\carried\version_list.sig"
  ; A signature its launcher's keys do not verify (a build that mixed them
  ; up) records nothing: the launcher checks the served lists itself.
  ExecWait '"$PLUGINSDIR\glimmerhold_files.exe" record-release "$INSTDIR" "$PLUGINSDIR\version_list.txt" "$PLUGINSDIR\version_list.sig"' $0
  ${If} $0 == 2
    MessageBox MB_ICONSTOP|MB_OK "The release record in $INSTDIR could not be written. ${GAME_NAME} was not installed." /SD IDOK
    SetErrorLevel 2
    Abort
  ${EndIf}
!endif
  CreateShortCut "$SMPROGRAMS\${GAME_NAME}.lnk" "$INSTDIR\Launcher.exe"
  CreateShortCut "$DESKTOP\${GAME_NAME}.lnk" "$INSTDIR\Launcher.exe"
SectionEnd

; Last, once every file is in place: the launcher takes an installation
; whose InstallPath is written as complete.
Section "Register"
  WriteRegStr HKCU "${SETTINGS_KEY}" "InstallPath" "$INSTDIR"
  WriteRegStr HKCU "${SETTINGS_KEY}" "Lenguaje_h144357406" "$PlayerLanguage"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${GAME_NAME}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Launcher.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "URLInfoAbout" "http://${PAGE_HOST}/"
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "TrustVersionList" $ListTrusted
SectionEnd

!include uninstall.nsh

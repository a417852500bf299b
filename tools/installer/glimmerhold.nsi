; The game's installer: installs Launcher.exe (and the release's starting set
; of game files) for the current user only, without administrator rights,
; writes the two settings the launcher reads, makes the shortcuts and
; registers an uninstaller in the player's Apps list.
;
; Built by the `installer` target (tools/installer/CMakeLists.txt), which
; passes GAME_NAME, PAGE_HOST, LANGUAGES ("en-US|es-ES"), STAGE (the folder
; stage_release.py laid out), TARGET (x86-unicode or amd64-unicode) and
; OUTFILE.
;
; Silent use: Setup.exe /S [/LANGUAGE=xx-YY] [/D=FOLDER] (/D last, unquoted).
; Exit codes: 0 installed; 1 cancelled by the player; 2 the folder cannot be
; written or a file could not be placed (nothing is registered); 3 the game is
; already installed in another folder (nothing is changed).

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
  ; Over an installation the launcher keeps up to date, its files (and its
  ; list of them) are newer than or equal to the ones carried here: only
  ; missing files are put back (SetOverwrite is fixed when the script is
  ; built: no File line below replaces a file). It is ours when registered
  ; here; its list is trusted as far as it was before. A version_list.txt
  ; found anywhere else is the player's or someone else's: the release's
  ; list replaces it and the uninstaller never removes what a list names.
  ; Only a folder that was new or empty leaves the list to us.
  ReadRegStr $0 HKCU "${UNINSTALL_KEY}" "InstallLocation"
  ${DirState} "$INSTDIR" $1
  ${If} $0 == $INSTDIR
  ${AndIf} ${FileExists} "$INSTDIR\Uninstall.exe"
    ReadRegDWORD $ListTrusted HKCU "${UNINSTALL_KEY}" "TrustVersionList"
  ${ElseIf} $1 == 1
    StrCpy $ListTrusted 0
    Delete "$INSTDIR\version_list.txt"
  ${Else}
    StrCpy $ListTrusted 1
  ${EndIf}
  ${If} $ListTrusted != 1
    StrCpy $ListTrusted 0
  ${EndIf}
  SetOverwrite off
  ClearErrors
  !include "${STAGE}\install_files.nsh"
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  ${If} ${Errors}
    MessageBox MB_ICONSTOP|MB_OK "Some files could not be written to $INSTDIR. ${GAME_NAME} was not installed." /SD IDOK
    SetErrorLevel 2
    Abort
  ${EndIf}
  SetOverwrite on
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

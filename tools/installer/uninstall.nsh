; The uninstaller: removes what the installer placed, the game files the
; launcher fetched since (its "version_list.txt" names them, when the
; installer set the folder up itself, see TrustVersionList), the launcher's
; working files (update::kWorkingNames, its log), download side files and
; the empty folders it made (where the list is trusted), the shortcuts, the
; settings and its own entry, and nothing else. The folder
; goes only once it is empty, so files the player keeps there (or had there
; before choosing the folder) stay.
;
; While the launcher or the game runs from the folder it removes nothing: it
; says so and offers Retry or Cancel; Cancel, and silent use, end with exit
; code 4 (seen by a caller that runs it as Uninstall.exe /S _?=FOLDER; run
; otherwise, it works from a copy and the first process ends at once).

; Pops a line of "version_list.txt" and pushes the file it names, relative to
; the installation folder with "\" between folders, the way the launcher
; decodes it; "" when the name could reach outside the folder or is a
; wildcard, which the launcher would not have written.
Function un.ListedPath
  Exch $0
  Push $1 ; the path so far
  Push $2 ; one character
  Push $3 ; index
  Push $4 ; length of the name
  Push $5 ; the character before
  Push $6 ; 1 once the name is refused
  Push $7
  StrCpy $1 ""
  StrCpy $4 0
  ${Do}
    StrCpy $2 $0 1 $4
    ${If} $2 == ""
    ${OrIf} $2 == " "
    ${OrIf} $2 == "$\r"
    ${OrIf} $2 == "$\n"
      ${Break}
    ${EndIf}
    IntOp $4 $4 + 1
  ${Loop}
  StrCpy $0 $0 $4
  StrCpy $3 0
  StrCpy $5 ""
  StrCpy $6 0
  ${DoWhile} $3 < $4
    StrCpy $2 $0 1 $3
    IntOp $3 $3 + 1
    ${If} $2 == "/"
      StrCpy $2 "\"
    ${ElseIf} $2 == "%"
      ; An escape the launcher decodes: a blank, "!" or one of ñ á é í ó ú,
      ; and only when something follows it, as in the launcher.
      IntOp $7 $3 + 1
      ${If} $7 < $4
        StrCpy $7 $0 2 $3
        ${If} $7 S== "20"
        ${OrIf} $7 S== "21"
        ${OrIf} $7 S== "f1"
        ${OrIf} $7 S== "e1"
        ${OrIf} $7 S== "e9"
        ${OrIf} $7 S== "ed"
        ${OrIf} $7 S== "f3"
        ${OrIf} $7 S== "fa"
          IntFmt $2 "%c" 0x$7
          IntOp $3 $3 + 2
        ${EndIf}
      ${EndIf}
    ${ElseIf} $2 == ":"
    ${OrIf} $2 == "*"
    ${OrIf} $2 == "?"
      StrCpy $6 1
    ${ElseIf} $2 == "."
    ${AndIf} $5 == "."
      StrCpy $6 1
    ${EndIf}
    StrCpy $1 "$1$2"
    StrCpy $5 $2
  ${Loop}
  StrCpy $2 $1 1
  ${If} $2 == "\"
  ${OrIf} $6 == 1
    StrCpy $1 ""
  ${EndIf}
  StrCpy $0 $1
  Pop $7
  Pop $6
  Pop $5
  Pop $4
  Pop $3
  Pop $2
  Pop $1
  Exch $0
FunctionEnd

; Pops a path relative to the installation folder and removes its folders
; that are left empty, innermost first.
Function un.RemoveEmptyFolders
  Exch $0
  Push $1
  ${Do}
    ${GetParent} $0 $0
    ${If} $0 == ""
      ${Break}
    ${EndIf}
    RMDir "$INSTDIR\$0"
  ${Loop}
  Pop $1
  Pop $0
FunctionEnd

; A line longer than one FileRead (NSIS_MAX_STRLEN - 1 characters) arrives in
; pieces; it is dropped whole, the pieces after the first included.
Function un.RemoveListedFiles
  ReadRegStr $0 HKCU "${UNINSTALL_KEY}" "InstallLocation"
  ReadRegDWORD $1 HKCU "${UNINSTALL_KEY}" "TrustVersionList"
  ${If} $0 != $INSTDIR
  ${OrIf} $1 != 1
    Return
  ${EndIf}
  ClearErrors
  FileOpen $0 "$INSTDIR\version_list.txt" r
  ${If} ${Errors}
    Return
  ${EndIf}
  StrCpy $2 0 ; 1 while the rest of a long line is read
  StrCpy $5 "?" ; the folder whose side files went last (no folder is "?")
  ${Do}
    ClearErrors
    FileRead $0 $1
    ${If} ${Errors}
      ${Break}
    ${EndIf}
    StrCpy $3 $1 1 -1
    ${If} $3 == "$\n"
    ${OrIf} $3 == "$\r"
      StrCpy $3 1 ; the line ends in this piece
    ${Else}
      StrLen $3 $1
      IntOp $4 ${NSIS_MAX_STRLEN} - 1
      ${If} $3 >= $4
        StrCpy $3 0
      ${Else}
        StrCpy $3 1 ; the last line, without a line end
      ${EndIf}
    ${EndIf}
    ${If} $2 == 1
    ${OrIf} $3 == 0
      ${If} $3 == 1
        StrCpy $2 0
      ${Else}
        StrCpy $2 1
      ${EndIf}
      ${Continue}
    ${EndIf}
    Push $1
    Call un.ListedPath
    Pop $1
    ${If} $1 != ""
      Delete "$INSTDIR\$1"
      ; The download side files of the file's folder ("<16 hex digits>.ghpart"),
      ; once per run of entries in one folder.
      ${GetParent} $1 $3
      ${If} $3 != $5
        Delete "$INSTDIR\$3\*.ghpart"
        StrCpy $5 $3
      ${EndIf}
      Push $1
      Call un.RemoveEmptyFolders
    ${EndIf}
  ${Loop}
  FileClose $0
FunctionEnd

Section "Uninstall"
  !insertmacro CarryFilesHelper
  Call un.WaitUntilClosed
  ; The launcher's working files but its list, which is read next, and the
  ; side file of the download in flight, with the launcher's own code.
  ExecWait '"$PLUGINSDIR\glimmerhold_files.exe" remove-working "$INSTDIR"'
  Call un.RemoveListedFiles
  !include "${STAGE}\uninstall_files.nsh"
  Delete "$INSTDIR\version_list.txt"
  Delete "$INSTDIR\*.ghpart"
  Delete "$INSTDIR\Uninstall.exe"
  ; In a folder the installer set up itself, the empty folders the launcher
  ; made for files it had not fetched yet.
  ReadRegStr $0 HKCU "${UNINSTALL_KEY}" "InstallLocation"
  ReadRegDWORD $1 HKCU "${UNINSTALL_KEY}" "TrustVersionList"
  ${If} $0 == $INSTDIR
  ${AndIf} $1 == 1
    ExecWait '"$PLUGINSDIR\glimmerhold_files.exe" remove-empty-folders "$INSTDIR"'
  ${EndIf}
  RMDir "$INSTDIR"

  Delete "$SMPROGRAMS\${GAME_NAME}.lnk"
  Delete "$DESKTOP\${GAME_NAME}.lnk"

  ; The settings and the Apps entry only when they describe this folder: a
  ; second installation elsewhere keeps its own.
  ReadRegStr $0 HKCU "${SETTINGS_KEY}" "InstallPath"
  ${If} $0 == $INSTDIR
    DeleteRegKey HKCU "${SETTINGS_KEY}"
    DeleteRegKey /ifempty HKCU "Software\Quarvo"
  ${EndIf}
  ReadRegStr $0 HKCU "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $0 == $INSTDIR
    DeleteRegKey HKCU "${UNINSTALL_KEY}"
  ${EndIf}
SectionEnd

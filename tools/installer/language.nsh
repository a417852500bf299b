; The languages the launcher page offers, LANGUAGES: "xx-YY" tags joined by
; "|" (the build checks their form), the first being the default.

!searchparse "${LANGUAGES}|" "" DEFAULT_LANGUAGE "|"

; Pops a language tag ("es-ES", "es-419", "sr-Latn-RS" ...) and pushes the
; offered language it stands for: the same tag, else the first offered one
; with the same two letters, else "". Letter case is ignored.
Function MatchLanguage
  Exch $0
  Push $1 ; offered languages not yet looked at, each followed by "|"
  Push $2 ; one of them
  Push $3 ; the answer so far
  Push $4 ; the wanted tag's first three characters ("es-")
  Push $5 ; the offered one's
  StrCpy $1 "${LANGUAGES}|"
  StrCpy $3 ""
  StrCpy $4 $0 3
  ${DoWhile} $1 != ""
    StrCpy $2 $1 5
    StrCpy $1 $1 "" 6
    ${If} $2 == $0
      StrCpy $3 $2
      ${Break}
    ${EndIf}
    StrCpy $5 $2 3
    ${If} $3 == ""
    ${AndIf} $5 == $4
      StrCpy $3 $2
    ${EndIf}
  ${Loop}
  StrCpy $0 $3
  Pop $5
  Pop $4
  Pop $3
  Pop $2
  Pop $1
  Exch $0
FunctionEnd

; Fills a drop-down list with the offered languages.
!macro AddLanguages BOX
  Push $1
  Push $2
  StrCpy $1 "${LANGUAGES}|"
  ${DoWhile} $1 != ""
    StrCpy $2 $1 5
    StrCpy $1 $1 "" 6
    ${NSD_CB_AddString} ${BOX} $2
  ${Loop}
  Pop $2
  Pop $1
!macroend

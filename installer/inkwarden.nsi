; The Windows installer of Inkwarden, built by scripts/package with NSIS
; (makensis -INPUTCHARSET UTF8 -DVERSION=x.y.z -DBUILD=<folder with the
; programs> -DOUTFILE=<setup.exe>).
;
; It installs Inkwarden.exe, inkwarden-cli.exe and the toolbar button's two
; icons for the current user (no administrator rights, the default) or for
; all users, with a Start-menu entry. The program keeps its settings beside
; itself (set.ini, ie.ini) and writes its start-at-log-on value itself when
; the user ticks "開機自動執行程式"; the installer never adds that value, it
; only points an existing one at the new place. An upgrade in place leaves
; set.ini and ie.ini alone. The uninstaller removes the files, the log-on
; value and the browser toolbar button's key, and asks before it removes the
; settings; a silent uninstall keeps them unless /REMOVESETTINGS is given.
;
; Command line: /S (silent), /CurrentUser or /AllUsers, /D=folder (last).
; Uninstaller: /S, /REMOVESETTINGS.

Unicode true
Target amd64-unicode
ManifestDPIAware true
SetCompressor /SOLID lzma

!ifndef VERSION
  !error "VERSION is not defined"
!endif
!ifndef BUILD
  !error "BUILD is not defined"
!endif
!ifndef OUTFILE
  !define OUTFILE "Inkwarden-${VERSION}-setup.exe"
!endif

!define PRODUCT "Inkwarden"
!define UNINST_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Inkwarden"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define EXTENSIONS_KEY "Software\Microsoft\Internet Explorer\Extensions"
!define PROGRAM_KEY "Software\Inkwarden"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
BrandingText "${PRODUCT} ${VERSION}"

; Per-user by default; all users when chosen (then with administrator rights).
!define MULTIUSER_EXECUTIONLEVEL Highest
!define MULTIUSER_MUI
!define MULTIUSER_INSTALLMODE_COMMANDLINE
!define MULTIUSER_USE_PROGRAMFILES64
!define MULTIUSER_INSTALLMODE_DEFAULT_CURRENTUSER
!define MULTIUSER_INSTALLMODE_INSTDIR "${PRODUCT}"
!define MULTIUSER_INSTALLMODE_INSTDIR_REGISTRY_KEY "${UNINST_KEY}"
!define MULTIUSER_INSTALLMODE_INSTDIR_REGISTRY_VALUENAME "InstallLocation"
!define MULTIUSER_INSTALLMODE_DEFAULT_REGISTRY_KEY "${UNINST_KEY}"
!define MULTIUSER_INSTALLMODE_DEFAULT_REGISTRY_VALUENAME "InstallLocation"
!include MultiUser.nsh
!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=1028 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1028 "FileDescription" "${PRODUCT} 安裝程式"
VIAddVersionKey /LANG=1028 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1028 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1028 "LegalCopyright" "${PRODUCT}"

!define MUI_ICON "${BUILD}\IE2.ico"
!define MUI_UNICON "${BUILD}\IE2.ico"
!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN "$INSTDIR\Inkwarden.exe"

!insertmacro MULTIUSER_PAGE_INSTALLMODE
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "TradChinese"

; Waits until the program in $INSTDIR is not running: a running program's
; file cannot be opened for writing. Asks the user to end it; a silent run
; gives up with an error (exit code 2), so nothing is half replaced.
!macro WAIT_FOR_PROGRAM_END UN
Function ${UN}WaitForProgramEnd
  ${Do}
    ${IfNot} ${FileExists} "$INSTDIR\Inkwarden.exe"
      Return
    ${EndIf}
    ClearErrors
    FileOpen $0 "$INSTDIR\Inkwarden.exe" a
    ${IfNot} ${Errors}
      FileClose $0
      Return
    ${EndIf}
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "Inkwarden 正在執行。$\r$\n請在通知區域的 Inkwarden 圖示上按右鍵,選「結束」,再按「重試」。" /SD IDCANCEL IDRETRY +2
    SetErrorLevel 2
    Quit
  ${Loop}
FunctionEnd
!macroend
!insertmacro WAIT_FOR_PROGRAM_END ""
!insertmacro WAIT_FOR_PROGRAM_END "un."

; Removes every browser toolbar button key under root $1 whose program is
; this installation's Inkwarden.exe (the program names a new key on every
; switch-on, so more than one may be left).
!macro REMOVE_BUTTON_KEYS UN
Function ${UN}RemoveButtonKeys
  StrCpy $2 0
  ${Do}
    ${If} $1 == "HKLM"
      EnumRegKey $3 HKLM "${EXTENSIONS_KEY}" $2
    ${Else}
      EnumRegKey $3 HKCU "${EXTENSIONS_KEY}" $2
    ${EndIf}
    ${If} $3 == ""
      ${Break}
    ${EndIf}
    ${If} $1 == "HKLM"
      ReadRegStr $4 HKLM "${EXTENSIONS_KEY}\$3" "Exec"
    ${Else}
      ReadRegStr $4 HKCU "${EXTENSIONS_KEY}\$3" "Exec"
    ${EndIf}
    ${If} $4 == "$INSTDIR\Inkwarden.exe"
      ${If} $1 == "HKLM"
        DeleteRegKey HKLM "${EXTENSIONS_KEY}\$3"
      ${Else}
        DeleteRegKey HKCU "${EXTENSIONS_KEY}\$3"
      ${EndIf}
      ; The next key has moved into this index.
    ${Else}
      IntOp $2 $2 + 1
    ${EndIf}
  ${Loop}
FunctionEnd
!macroend
!insertmacro REMOVE_BUTTON_KEYS "un."

Var GivenFolder
Function .onInit
  ; A folder given with /D wins over the one the install mode proposes.
  StrCpy $GivenFolder $INSTDIR
  !insertmacro MULTIUSER_INIT
  ${If} $GivenFolder != ""
    StrCpy $INSTDIR $GivenFolder
  ${EndIf}
FunctionEnd

Section "Inkwarden" SecMain
  SectionIn RO
  Call WaitForProgramEnd
  SetOutPath "$INSTDIR"
  ; Only the program's own files: set.ini and ie.ini are never touched.
  File "${BUILD}\Inkwarden.exe"
  File "${BUILD}\inkwarden-cli.exe"
  File "${BUILD}\IE1.ico"
  File "${BUILD}\IE2.ico"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  CreateShortCut "$SMPROGRAMS\Inkwarden.lnk" "$INSTDIR\Inkwarden.exe" "" "$INSTDIR\Inkwarden.exe" 0

  ; Start at log-on stays the user's choice, made in the program: a value
  ; that is already there is pointed at this installation, none is added.
  ReadRegStr $0 HKCU "${RUN_KEY}" "Inkwarden"
  ${If} $0 != ""
    WriteRegStr HKCU "${RUN_KEY}" "Inkwarden" "$INSTDIR\Inkwarden.exe"
  ${EndIf}
  ${If} $MultiUser.InstallMode == "AllUsers"
    ReadRegStr $0 HKLM "${RUN_KEY}" "Inkwarden"
    ${If} $0 != ""
      WriteRegStr HKLM "${RUN_KEY}" "Inkwarden" "$INSTDIR\Inkwarden.exe"
    ${EndIf}
  ${EndIf}

  WriteRegStr SHCTX "${UNINST_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr SHCTX "${UNINST_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr SHCTX "${UNINST_KEY}" "Publisher" "${PRODUCT}"
  WriteRegStr SHCTX "${UNINST_KEY}" "DisplayIcon" "$INSTDIR\Inkwarden.exe"
  WriteRegStr SHCTX "${UNINST_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr SHCTX "${UNINST_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe" /$MultiUser.InstallMode'
  WriteRegStr SHCTX "${UNINST_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /$MultiUser.InstallMode /S'
  WriteRegDWORD SHCTX "${UNINST_KEY}" "NoModify" 1
  WriteRegDWORD SHCTX "${UNINST_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD SHCTX "${UNINST_KEY}" "EstimatedSize" $0
SectionEnd

Function un.onInit
  !insertmacro MULTIUSER_UNINIT
FunctionEnd

Section "Uninstall"
  Call un.WaitForProgramEnd

  Delete "$INSTDIR\Inkwarden.exe"
  Delete "$INSTDIR\inkwarden-cli.exe"
  Delete "$INSTDIR\IE1.ico"
  Delete "$INSTDIR\IE2.ico"
  Delete "$SMPROGRAMS\Inkwarden.lnk"

  ; The start-at-log-on value, where it starts this installation's program
  ; (the program writes it under HKLM, or under HKCU where HKLM is refused).
  ReadRegStr $0 HKCU "${RUN_KEY}" "Inkwarden"
  ${If} $0 == "$INSTDIR\Inkwarden.exe"
    DeleteRegValue HKCU "${RUN_KEY}" "Inkwarden"
  ${EndIf}
  ReadRegStr $0 HKLM "${RUN_KEY}" "Inkwarden"
  ${If} $0 == "$INSTDIR\Inkwarden.exe"
    DeleteRegValue HKLM "${RUN_KEY}" "Inkwarden"
  ${EndIf}

  ; The browser toolbar button, in either root.
  StrCpy $1 "HKCU"
  Call un.RemoveButtonKeys
  StrCpy $1 "HKLM"
  Call un.RemoveButtonKeys

  ; The settings: asked, and kept by a silent uninstall unless told.
  StrCpy $5 "keep"
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/REMOVESETTINGS" $1
  ${IfNot} ${Errors}
    StrCpy $5 "remove"
  ${ElseIfNot} ${Silent}
    ${If} ${FileExists} "$INSTDIR\set.ini"
    ${OrIf} ${FileExists} "$INSTDIR\ie.ini"
      MessageBox MB_YESNO|MB_ICONQUESTION|MB_DEFBUTTON2 "要一併刪除 Inkwarden 的設定嗎?$\r$\n$\r$\n設定包括郵件帳號、黑名單、信任名單、網域名單與網址清單(set.ini、ie.ini)。$\r$\n選「否」會保留設定,重新安裝後照舊使用。" /SD IDNO IDNO +2
      StrCpy $5 "remove"
    ${EndIf}
  ${EndIf}
  ${If} $5 == "remove"
    Delete "$INSTDIR\set.ini"
    Delete "$INSTDIR\ie.ini"
    DeleteRegKey HKCU "${PROGRAM_KEY}"
    DeleteRegKey HKLM "${PROGRAM_KEY}"
  ${EndIf}
  ; Kept settings are left byte for byte as they are (set.ini is Big5 text,
  ; which the system's profile functions could rewrite in another code
  ; page); the program's own button switch reads "ShowIE" again.

  Delete "$INSTDIR\uninstall.exe"
  ; Only an empty folder: kept settings, or files the user put there, stay.
  RMDir "$INSTDIR"
  DeleteRegKey SHCTX "${UNINST_KEY}"
SectionEnd

; Windows installer of the tessarin launcher (NSIS 3, built on Debian by makensis).
;
;   makensis -DVERSION=1.4 -DSOURCE_DIR=<deploy folder> [-DOUTFILE=<setup.exe>] tessarin.nsi
;
; SOURCE_DIR and OUTFILE absolute: makensis works in this folder.
;
; SOURCE_DIR is the self-contained deploy folder (tessarin.exe, Qt and MinGW DLLs,
; qt.conf, plugins\, config\). nsis-filelist.sh lists it at compile time into both
; the install and the uninstall steps, so the uninstaller removes exactly the
; files shipped and never the operator's.
;
; setup.exe:      /S silent; /D=<folder> another install folder (last, unquoted).
; uninstall.exe:  /S silent. The operator's config\SetupConfig.ini (it holds the
;                 database password) and logs\ are kept, so that a reinstall goes on
;                 with them: interactively the uninstaller asks, defaulting to keep;
;                 /PURGE deletes them without asking, also with /S.
;
; Both are 64-bit: tessarin is, and a 64-bit setup writes the 64-bit registry and
; Program Files without WOW64 redirection (Debian's wine64 cannot run a 32-bit one).

Unicode true
Target amd64-unicode

!ifndef SOURCE_DIR
  !error "SOURCE_DIR is not defined: makensis -DVERSION=<x.y> -DSOURCE_DIR=<deploy folder> -DOUTFILE=<setup.exe> tessarin.nsi"
!endif
!if ! /FileExists "${SOURCE_DIR}/tessarin.exe"
  !error "SOURCE_DIR=${SOURCE_DIR} has no tessarin.exe: give the deploy folder"
!endif
!ifndef VERSION
  !error "VERSION is not defined: makensis -DVERSION=<x.y> ..."
!endif
!ifndef OUTFILE
  !define OUTFILE "tessarin-${VERSION}-win64-setup.exe"
!endif

!define APP_NAME "Orvane国标28181服务器"
!define PUBLISHER "Orvane"
!define EXE "tessarin.exe"
!define UNINSTALLER "uninstall.exe"
!define UNINST_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\tessarin"
!define SETTINGS "config\SetupConfig.ini"
!define SHORTCUT "${APP_NAME}.lnk"

; This folder: makensis works in it unless -NOCD, while __FILEDIR__ is the path
; it was given, relative to where it was started.
!if /FileExists "${__FILEDIR__}/nsis-filelist.sh"
  !define HERE "${__FILEDIR__}"
!else
  !define HERE "."
!endif

; The install and uninstall lists of SOURCE_DIR.
!tempfile FILELIST
!system 'bash "${HERE}/nsis-filelist.sh" "${SOURCE_DIR}" > "${FILELIST}"' = 0
!include /CHARSET=UTF8 "${FILELIST}"
!delfile "${FILELIST}"

; x.y[.z[.w]] to the four numbers a version resource needs.
!searchparse /noerrors "${VERSION}.0.0.0" "" VER_1 "." VER_2 "." VER_3 "." VER_4 "."

Name "${APP_NAME} V ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Orvane\tessarin"
InstallDirRegKey HKLM "${UNINST_KEY}" "InstallLocation"
RequestExecutionLevel admin
ManifestDPIAware true
SetCompressor /SOLID lzma
; A file that cannot be written (a DLL still in use) offers Retry or Cancel, never
; "Ignore" and a half-updated program; a silent setup fails instead.
AllowSkipFiles off
ShowInstDetails show
BrandingText "${PUBLISHER} ${APP_NAME} V ${VERSION}"
ShowUninstDetails show

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh

!define LOGO "${HERE}/../../resources/image/logo.ico"
!if /FileExists "${LOGO}"
  !define MUI_ICON "${LOGO}"
  !define MUI_UNICON "${LOGO}"
!else
  !warning "no ${LOGO}: the setup gets NSIS's icon"
!endif
!define MUI_ABORTWARNING

!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN "$INSTDIR\${EXE}"
!insertmacro MUI_PAGE_FINISH

!define MUI_PAGE_CUSTOMFUNCTION_LEAVE un.AskPurge
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

; The first one is the fallback on a system in neither language.
!insertmacro MUI_LANGUAGE "SimpChinese"
!insertmacro MUI_LANGUAGE "English"

LangString SecMainName ${LANG_SIMPCHINESE} "${APP_NAME}"
LangString SecMainName ${LANG_ENGLISH} "${APP_NAME}"
LangString SecDesktopName ${LANG_SIMPCHINESE} "桌面快捷方式"
LangString SecDesktopName ${LANG_ENGLISH} "Desktop shortcut"
LangString StillRunning ${LANG_SIMPCHINESE} "${APP_NAME} 正在运行 ($R0\${EXE})。$\r$\n请先关闭它，然后点击“重试”。"
LangString StillRunning ${LANG_ENGLISH} "${APP_NAME} is running ($R0\${EXE}).$\r$\nClose it, then click Retry."
LangString AskPurge ${LANG_SIMPCHINESE} "也删除设置和日志?$\r$\n$\r$\n设置 ($INSTDIR\${SETTINGS}) 含数据库密码。选择“否”则保留它们，重新安装后继续使用。"
LangString AskPurge ${LANG_ENGLISH} "Also delete the settings and logs?$\r$\n$\r$\nThe settings ($INSTDIR\${SETTINGS}) hold the database password. Choose No to keep them for a reinstall."
LangString AclFailed ${LANG_SIMPCHINESE} "警告: 无法限制 $0 的访问权限 (icacls 返回 $1)"
LangString AclFailed ${LANG_ENGLISH} "Warning: could not restrict access to $0 (icacls returned $1)"
LangString Kept ${LANG_SIMPCHINESE} "保留设置和日志: $INSTDIR\${SETTINGS}, $INSTDIR\logs"
LangString Kept ${LANG_ENGLISH} "Kept the settings and logs: $INSTDIR\${SETTINGS}, $INSTDIR\logs"

VIProductVersion "${VER_1}.${VER_2}.${VER_3}.${VER_4}"
VIFileVersion "${VER_1}.${VER_2}.${VER_3}.${VER_4}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductName" "${APP_NAME}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileDescription" "${APP_NAME} V ${VERSION} Setup"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "LegalCopyright" "${PUBLISHER}"

; A running program's .exe cannot be opened for writing: a surer sign than its
; window, whose title changes with the version.
!macro WAIT_UNTIL_CLOSED un
Function ${un}WaitUntilClosed
  Exch $R0  ; the install folder
  Push $R1
  ${DoWhile} ${FileExists} "$R0\${EXE}"
    ClearErrors
    FileOpen $R1 "$R0\${EXE}" a
    ${IfNot} ${Errors}
      FileClose $R1
      ${Break}
    ${EndIf}
    ${If} ${Cmd} `MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "$(StillRunning)" /SD IDCANCEL IDCANCEL`
      DetailPrint "$(StillRunning)"
      Abort
    ${EndIf}
  ${Loop}
  Pop $R1
  Pop $R0
FunctionEnd
!macroend
!insertmacro WAIT_UNTIL_CLOSED ""
!insertmacro WAIT_UNTIL_CLOSED "un."

; Only Administrators and SYSTEM: the settings file holds the database password,
; and the logs may show it too. The rest of the folder needs nothing of the kind:
; Program Files already lets ordinary users read but not write it.
!macro RESTRICT_TO_ADMINS path
  StrCpy $0 "${path}"
  nsExec::ExecToLog '"$SYSDIR\icacls.exe" "$0" /inheritance:r /grant:r *S-1-5-32-544:(OI)(CI)F *S-1-5-18:(OI)(CI)F'
  Pop $1
  ${If} $1 != 0
    DetailPrint "$(AclFailed)"
  ${EndIf}
!macroend

Section "$(SecMainName)" SecMain
  SectionIn RO
  SetShellVarContext all
  SetRegView 64

  ; An earlier install's own uninstaller takes its files away first, keeping the
  ; operator's settings and logs, so that no file the new version dropped stays
  ; behind unknown to the new uninstaller.
  ReadRegStr $R0 HKLM "${UNINST_KEY}" "InstallLocation"
  ${If} $R0 != ""
  ${AndIf} ${FileExists} "$R0\${UNINSTALLER}"
    Push $R0
    Call WaitUntilClosed
    DetailPrint "$R0\${UNINSTALLER} /S"
    ExecWait '"$R0\${UNINSTALLER}" /S _?=$R0' $R1
    ${If} $R1 != 0
      DetailPrint "$R0\${UNINSTALLER}: $R1"
    ${EndIf}
    Delete "$R0\${UNINSTALLER}"
    RMDir "$R0"
  ${EndIf}
  Push $INSTDIR
  Call WaitUntilClosed

  !insertmacro TESSARIN_INSTALL_FILES
  WriteUninstaller "$INSTDIR\${UNINSTALLER}"

  ; The launcher makes logs\ itself, but then with the folder's permissions.
  CreateDirectory "$INSTDIR\config"
  CreateDirectory "$INSTDIR\logs"
  !insertmacro RESTRICT_TO_ADMINS "$INSTDIR\config"
  !insertmacro RESTRICT_TO_ADMINS "$INSTDIR\logs"
  ; Settings kept from an earlier install drop any rights of their own and take the folder's.
  ${If} ${FileExists} "$INSTDIR\${SETTINGS}"
    nsExec::ExecToLog '"$SYSDIR\icacls.exe" "$INSTDIR\${SETTINGS}" /reset'
    Pop $1
    ${If} $1 != 0
      StrCpy $0 "$INSTDIR\${SETTINGS}"
      DetailPrint "$(AclFailed)"
    ${EndIf}
  ${EndIf}

  CreateShortCut "$SMPROGRAMS\${SHORTCUT}" "$INSTDIR\${EXE}" "" "$INSTDIR\${EXE}" 0

  WriteRegStr HKLM "${UNINST_KEY}" "DisplayName" "${APP_NAME}"
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINST_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayIcon" "$INSTDIR\${EXE},0"
  WriteRegStr HKLM "${UNINST_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
  WriteRegStr HKLM "${UNINST_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
  WriteRegStr HKLM "${UNINST_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegDWORD HKLM "${UNINST_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINST_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  IntFmt $0 "0x%08X" $0
  WriteRegDWORD HKLM "${UNINST_KEY}" "EstimatedSize" $0
SectionEnd

Section "$(SecDesktopName)" SecDesktop
  SetShellVarContext all
  CreateShortCut "$DESKTOP\${SHORTCUT}" "$INSTDIR\${EXE}" "" "$INSTDIR\${EXE}" 0
SectionEnd

Var Purge

Function un.onInit
  SetRegView 64
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/PURGE" $R1
  ${IfNot} ${Errors}
    StrCpy $Purge 1
  ${EndIf}
FunctionEnd

; $R9 = 1 if the operator's settings or any log is there.
Function un.FindOperatorData
  StrCpy $R9 0
  ${If} ${FileExists} "$INSTDIR\${SETTINGS}"
    StrCpy $R9 1
    Return
  ${EndIf}
  FindFirst $0 $1 "$INSTDIR\logs\*"
  ${DoWhile} $1 != ""
    ${If} $1 != "."
    ${AndIf} $1 != ".."
      StrCpy $R9 1
      ${Break}
    ${EndIf}
    FindNext $0 $1
  ${Loop}
  FindClose $0
FunctionEnd

; Interactive only: a silent uninstall shows no page and keeps them unless /PURGE.
Function un.AskPurge
  ${If} $Purge != 1
    Call un.FindOperatorData
    ${If} $R9 == 1
      ${If} ${Cmd} `MessageBox MB_YESNO|MB_ICONQUESTION|MB_DEFBUTTON2 "$(AskPurge)" IDYES`
        StrCpy $Purge 1
      ${EndIf}
    ${EndIf}
  ${EndIf}
FunctionEnd

Section "Uninstall"
  SetShellVarContext all
  SetRegView 64
  ; A service runs on without a window: it stops its servers politely and
  ; goes first (nothing happens when none was installed).
  nsExec::ExecToLog '"$INSTDIR\tessarin.exe" --remove-service'
  Pop $0
  Push $INSTDIR
  Call un.WaitUntilClosed

  ${If} $Purge == 1
    Delete "$INSTDIR\${SETTINGS}"
    RMDir /r "$INSTDIR\logs"
  ${Else}
    Call un.FindOperatorData
    ${If} $R9 == 1
      DetailPrint "$(Kept)"
    ${EndIf}
  ${EndIf}

  Delete "$SMPROGRAMS\${SHORTCUT}"
  Delete "$DESKTOP\${SHORTCUT}"

  !insertmacro TESSARIN_UNINSTALL_FILES
  Delete "$INSTDIR\${UNINSTALLER}"
  ; Without /r: these go only if empty.
  RMDir "$INSTDIR\logs"
  RMDir "$INSTDIR\config"
  RMDir "$INSTDIR"
  ${GetParent} "$INSTDIR" $R0
  ${GetFileName} $R0 $R1
  ${If} $R1 == "Orvane"
    RMDir $R0
  ${EndIf}

  DeleteRegKey HKLM "${UNINST_KEY}"
  ; "登录时启动" of the user who uninstalls.
  DeleteRegValue HKCU "Software\Microsoft\Windows\CurrentVersion\Run" "Tessarin"
SectionEnd

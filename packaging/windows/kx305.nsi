; The Windows installer of kx305mon.exe and kx305.dll, with the driver's SDK
; as an optional component.  Built by makensis (scripts/release.sh, or the
; kx305_setup target of the windows build):
;
;   makensis -DVERSION=2.62 -DSOURCE=<source tree> -DBUILD64=<windows build>
;            [-DBUILD32=<windows32 build>] -DOUTFILE=<setup.exe>
;            [-DTARGET=amd64-unicode] kx305.nsi
;
; The release is built for x86-unicode (it runs on 32- and 64-bit Windows and
; installs the program of the system's width); the same script for
; amd64-unicode is what runs under wine64.  Command line of the installer:
; /S silent, /D=DIR the folder, /ALLUSERS or /CURRENTUSER, /SDK the SDK too.
; Exit code 2 when cancelled, 3 when kx305mon.exe is running (silent).

!ifndef VERSION | SOURCE | BUILD64 | OUTFILE
  !error "VERSION, SOURCE, BUILD64 and OUTFILE must be defined"
!endif
!ifndef TARGET
  !define TARGET x86-unicode
!endif
Target ${TARGET}
!if ${NSIS_PTR_SIZE} <= 4
  !ifndef BUILD32
    !error "the x86 installer needs the 32-bit program: define BUILD32"
  !endif
!endif
Unicode true
SetCompressor /SOLID lzma

!define PRODUCT "Konwerter KX-305"
!define PUBLISHER "Velmor"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\KX-305"
; The program's own settings (kept unless the user asks otherwise).
!define SETTINGS_PARENT "Software\Velmor\KX-305V"
!define SETTINGS_KEY "${SETTINGS_PARENT}\2.3"
; The program's single-instance marker: a named file mapping that exists
; while any copy of kx305mon.exe runs.
!define RUNNING_MARKER "KX305Test"
!define EXIT_CANCELLED 2
!define EXIT_RUNNING 3

Name "${PRODUCT}"
OutFile "${OUTFILE}"
BrandingText "${PRODUCT} ${VERSION}"
RequestExecutionLevel user
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}.0.0"
VIAddVersionKey /LANG=1045 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1045 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1045 "FileDescription" "Instalator programu ${PRODUCT}"
VIAddVersionKey /LANG=1045 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1045 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1045 "LegalCopyright" "${PUBLISHER}"

!define MULTIUSER_EXECUTIONLEVEL Highest
!define MULTIUSER_MUI
!define MULTIUSER_INSTALLMODE_COMMANDLINE
!define MULTIUSER_USE_PROGRAMFILES64
!define MULTIUSER_INSTALLMODE_INSTDIR "KX-305"
; An upgrade goes where the last installation went, in its mode.
!define MULTIUSER_INSTALLMODE_DEFAULT_REGISTRY_KEY "${UNINSTALL_KEY}"
!define MULTIUSER_INSTALLMODE_DEFAULT_REGISTRY_VALUENAME "InstallLocation"
!define MULTIUSER_INSTALLMODE_INSTDIR_REGISTRY_KEY "${UNINSTALL_KEY}"
!define MULTIUSER_INSTALLMODE_INSTDIR_REGISTRY_VALUENAME "InstallLocation"
!define MULTIUSER_INIT_TEXT_ADMINREQUIRED "Instalacja programu ${PRODUCT} wymaga uprawnień administratora."
!define MULTIUSER_INIT_TEXT_POWERREQUIRED "Instalacja programu ${PRODUCT} wymaga co najmniej uprawnień użytkownika zaawansowanego."
!define MULTIUSER_INIT_TEXT_ALLUSERSNOTPOSSIBLE "Twoje konto nie ma uprawnień do zainstalowania programu ${PRODUCT} dla wszystkich użytkowników tego komputera."

!include MultiUser.nsh
!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include x64.nsh

!define MUI_ICON "${SOURCE}/monitor/resources/images/program.ico"
!define MUI_UNICON "${SOURCE}/monitor/resources/images/program.ico"
!define MUI_ABORTWARNING
!define MUI_COMPONENTSPAGE_NODESC

!insertmacro MUI_PAGE_WELCOME
!insertmacro MULTIUSER_PAGE_INSTALLMODE
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN "$INSTDIR\kx305mon.exe"
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_COMPONENTS
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "Polish"

LangString RunningText ${LANG_POLISH} "Program ${PRODUCT} jest uruchomiony.$\r$\n$\r$\nZamknij go i wybierz $\"Ponów$\", albo wybierz $\"Anuluj$\", aby przerwać."
LangString ProgramSection ${LANG_POLISH} "Program ${PRODUCT}"
LangString SdkSection ${LANG_POLISH} "SDK"
LangString SettingsSection ${LANG_POLISH} "Usuń także ustawienia programu"

; ---- The running program ---------------------------------------------------
; Files in use cannot be replaced or removed: ask until the program is
; closed; silent, fail before anything has changed.
!macro WAIT_PROGRAM_CLOSED prefix
Function ${prefix}WaitProgramClosed
    Push $0
    ${Do}
        System::Call 'kernel32::OpenFileMappingW(i 4, i 0, w "${RUNNING_MARKER}") p .r0'
        ${If} $0 P= 0
            ${Break}
        ${EndIf}
        System::Call 'kernel32::CloseHandle(p r0)'
        ${If} ${Silent}
            SetErrorLevel ${EXIT_RUNNING}
            Quit
        ${EndIf}
        MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "$(RunningText)" /SD IDCANCEL IDRETRY retry
        SetErrorLevel ${EXIT_CANCELLED}
        Quit
    retry:
    ${Loop}
    Pop $0
FunctionEnd
!macroend
!insertmacro WAIT_PROGRAM_CLOSED ""
!insertmacro WAIT_PROGRAM_CLOSED "un."

; ---- Installer -------------------------------------------------------------

Section "!$(ProgramSection)" SecProgram
    SectionIn RO
    Call WaitProgramClosed
    SetOutPath "$INSTDIR"
!if ${NSIS_PTR_SIZE} > 4
    ; This build runs on 64-bit Windows only.
    File "${BUILD64}/driver/kx305mon.exe"
    File "${BUILD64}/driver/kx305.dll"
!else
    ${If} ${RunningX64}
        File "${BUILD64}/driver/kx305mon.exe"
        File "${BUILD64}/driver/kx305.dll"
    ${Else}
        File "${BUILD32}/driver/kx305mon.exe"
        File "${BUILD32}/driver/kx305.dll"
    ${EndIf}
!endif
    WriteUninstaller "$INSTDIR\uninstall.exe"
    CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\kx305mon.exe" "" "$INSTDIR\kx305mon.exe" 0
SectionEnd

Section /o "$(SdkSection)" SecSdk
    SetOutPath "$INSTDIR\SDK\include"
    File "${SOURCE}/driver/include/kx305.h"
    SetOutPath "$INSTDIR\SDK"
    File "${SOURCE}/driver/kx305.def"
    SetOutPath "$INSTDIR\SDK\lib64"
    File "${BUILD64}/driver/kx305.dll"
    File "${BUILD64}/driver/libkx305.dll.a"
    File "${BUILD64}/driver/kx305.lib"
!ifdef BUILD32
    SetOutPath "$INSTDIR\SDK\lib32"
    File "${BUILD32}/driver/kx305.dll"
    File "${BUILD32}/driver/libkx305.dll.a"
    File "${BUILD32}/driver/kx305.lib"
!endif
    SetOutPath "$INSTDIR\SDK\examples"
    File "${SOURCE}/sdk/examples/read.c"
    File "${SOURCE}/sdk/examples/KX305.bas"
SectionEnd

; The entry in the list of installed programs, written last so that its
; size counts everything.
Section "-Uninstall entry"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\kx305mon.exe,0"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe" /$MultiUser.InstallMode'
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /$MultiUser.InstallMode /S'
    WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1
    ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
    IntFmt $0 "0x%08X" $0
    WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "EstimatedSize" "$0"
SectionEnd

Function .onInit
    ; The registry of the system's width, and its Program Files.
    ${If} ${RunningX64}
        SetRegView 64
    ${EndIf}
    ; /D= sets $INSTDIR before this; the install mode must not override it.
    StrCpy $R9 $INSTDIR
    !insertmacro MULTIUSER_INIT
    ${If} $R9 != ""
        StrCpy $INSTDIR $R9
    ${EndIf}
    ${GetParameters} $0
    ClearErrors
    ${GetOptions} $0 "/SDK" $1
    ${IfNot} ${Errors}
        !insertmacro SelectSection ${SecSdk}
    ${EndIf}
    ${If} ${Silent}
        Call WaitProgramClosed
    ${EndIf}
FunctionEnd

; ---- Uninstaller -----------------------------------------------------------
!macro UN_REMOVE_LIBS dir
    Delete "$INSTDIR\SDK\${dir}\kx305.dll"
    Delete "$INSTDIR\SDK\${dir}\libkx305.dll.a"
    Delete "$INSTDIR\SDK\${dir}\kx305.lib"
    RMDir "$INSTDIR\SDK\${dir}"
!macroend

; It removes what an installation put there, file by file: registration files
; and exports the user keeps in the same folders stay, and so do the folders
; that still hold them.

Section "-un.Program"
    Call un.WaitProgramClosed
    Delete "$SMPROGRAMS\${PRODUCT}.lnk"
    Delete "$INSTDIR\kx305mon.exe"
    Delete "$INSTDIR\kx305.dll"
    Delete "$INSTDIR\SDK\include\kx305.h"
    RMDir "$INSTDIR\SDK\include"
    Delete "$INSTDIR\SDK\kx305.def"
    !insertmacro UN_REMOVE_LIBS lib64
    !insertmacro UN_REMOVE_LIBS lib32
    Delete "$INSTDIR\SDK\examples\read.c"
    Delete "$INSTDIR\SDK\examples\KX305.bas"
    RMDir "$INSTDIR\SDK\examples"
    RMDir "$INSTDIR\SDK"
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"
    DeleteRegKey SHCTX "${UNINSTALL_KEY}"
SectionEnd

; Like the program's own "Od&instaluj program": the key, then its parents
; that nothing else is left in.
Section /o "un.$(SettingsSection)" SecUnSettings
    DeleteRegKey HKCU "${SETTINGS_KEY}"
    DeleteRegKey /ifempty HKCU "${SETTINGS_PARENT}"
    DeleteRegKey /ifempty HKCU "Software\Velmor"
SectionEnd

Function un.onInit
    ${If} ${RunningX64}
        SetRegView 64
    ${EndIf}
    !insertmacro MULTIUSER_UNINIT
FunctionEnd

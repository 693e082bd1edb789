; The Windows installer of one build's installation folder: the programs, the runtime and
; sysdata\ into Program Files, the shared configuration into the common application data
; folder where the programs look for it, a Start menu entry and an uninstaller.
; makensis -DVERSION=x.y.z -DFILE_VERSION=x.y.z.n -DBITS=32|64 -DSOURCE=<installation folder>
;          -DFILE_LIST=<uninstall list> -DOUTFILE=<setup.exe> brankel.nsi
; Silent: setup.exe /S [/D=C:\path]; uninstall: Uninstall.exe /S [_?=<program folder>].

Unicode true
!if ${BITS} == 64
  Target amd64-unicode
!endif
SetCompressor /SOLID lzma

!define PRODUCT "Brankel"
; Where Brankel.exe and brankelc.exe read the shared configuration ($APPDATA once the
; shell folders are the common ones).
!define SHARED "$APPDATA\Velmora\Pandrel"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Brankel"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
; The program folder and the common folders are the machine's.
RequestExecutionLevel admin
!if ${BITS} == 64
  InstallDir "$PROGRAMFILES64\${PRODUCT}"
!else
  InstallDir "$PROGRAMFILES\${PRODUCT}"
!endif
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${FILE_VERSION}"
VIFileVersion "${FILE_VERSION}"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "CompanyName" "${PRODUCT}"
VIAddVersionKey "LegalCopyright" "The ${PRODUCT} developers"
VIAddVersionKey "FileDescription" "${PRODUCT} ${VERSION} setup"
VIAddVersionKey "FileVersion" "${FILE_VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Function .onInit
  SetShellVarContext all
FunctionEnd

Function un.onInit
  SetShellVarContext all
FunctionEnd

Section "Install"
  SetOutPath "$INSTDIR"
  ; Config\ is the shared configuration's, below; the rest is the program folder.
  File /r /x Config "${SOURCE}/*"

  SetOutPath "${SHARED}\Config"
  ; An administrator's settings survive an upgrade; the template of each user's
  ; configuration is the release's own.
  SetOverwrite off
  File "${SOURCE}/Config/General.ini"
  SetOverwrite on
  File "${SOURCE}/Config/Config.ini"
  ; The data folder start-up asks for when it is missing.
  CreateDirectory "${SHARED}\data"

  SetOutPath "$INSTDIR"
  CreateDirectory "$SMPROGRAMS\${PRODUCT}"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk" "$INSTDIR\Brankel.exe"
  WriteUninstaller "$INSTDIR\Uninstall.exe"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT} ${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; Removes what the installer wrote, by name: never a whole folder, so the user's
; projects, macros in the data folder and each user's own configuration stay, and so
; does a program folder the user chose badly (C:\, say) with everything else in it.
Section "Uninstall"
  !include "${FILE_LIST}"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"

  Delete "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk"
  RMDir "$SMPROGRAMS\${PRODUCT}"

  Delete "${SHARED}\Config\General.ini"
  Delete "${SHARED}\Config\Config.ini"
  RMDir "${SHARED}\Config"
  RMDir "${SHARED}\data"
  RMDir "${SHARED}"
  RMDir "$APPDATA\Velmora"

  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd

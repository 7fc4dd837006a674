; Setup program of Quenvar Lockmere 1.0.7.
;
; Built by CMake (setup/CMakeLists.txt) with these definitions:
;   OUTFILE      the setup program to write
;   TARGET       NSIS target: x86-unicode (the product) or amd64-unicode (tests)
;   BIN_DIR      folder with QuenvarUI.exe, QuenvarDll.dll and QuenvarSvc.exe
;   DOCS_DIR     folder with ReadMe.rtf, License.rtf and "Lockmere Help.chm"
;   DRIVER_FILE  the driver file, installed as Quenvr.sys
;   STANDIN_DRIVER  defined when DRIVER_FILE is the test suite's stand-in driver
;
; The installation: QuenvarUI.exe and QuenvarDll.dll in the Windows folder,
; QuenvarSvc.exe in the System folder, Quenvr.sys in System\Drivers, the Start
; menu folder "Quenvar Lockmere" of all users with the three documents, the
; services "Quenvar" and "QuenvarSvc", and the registry values that the
; service's registry guard keeps (the same table as service/InstallationFootprint.cpp).
; QuenvarUI.exe /U removes exactly this; it is the Uninstall entry's command, so
; the setup program writes no uninstaller of its own.
;
; Run silently with /S. Exit codes: 0 installed; 3010 installed, the restart
; finishes it (files of the running system replaced); 5 no administrative
; rights; 32 a file is in use; 1072 an uninstall waits for its restart; 1603
; any other failure. Every failure before the services exist leaves the
; computer as it was.

Unicode true
Target ${TARGET}
SetCompressor /SOLID lzma

!include LogicLib.nsh

!define PRODUCT "Quenvar Lockmere"
!define VERSION "1.0.7"
!ifdef STANDIN_DRIVER
  ; A test build installs the stand-in driver of the test suite and says so.
  !define BUILD_NOTE " (test build: stand-in driver)"
  !define DRIVER_TEXT "the stand-in driver of the test suite (not the Quenvar kernel driver)"
!else
  !define BUILD_NOTE ""
  !define DRIVER_TEXT "the driver file given to this build"
!endif

Name "${PRODUCT} ${VERSION}${BUILD_NOTE}"
Caption "${PRODUCT} ${VERSION} Setup${BUILD_NOTE}"
OutFile "${OUTFILE}"
RequestExecutionLevel admin
ShowInstDetails show
BrandingText "${PRODUCT} ${VERSION}"
LicenseData "${DOCS_DIR}/License.rtf"
LicenseText "Quenvar Lockmere is free software under the MIT License." "I &Agree"

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} ${VERSION} Setup${BUILD_NOTE}"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Copyright (c) 2026 The Quenvar Lockmere developers"
VIAddVersionKey /LANG=1033 "Comments" "Installs ${DRIVER_TEXT} as Quenvr.sys."

Page license
Page instfiles

!define SERVICES_KEY "System\CurrentControlSet\Services"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\QuenvarLockmere"
!define FOLDER "$SMPROGRAMS\Quenvar Lockmere"

!define ERROR_SERVICE_ALREADY_RUNNING 1056
!define ERROR_SERVICE_MARKED_FOR_DELETE 1072
!define ERROR_SERVICE_EXISTS 1073

; The seven files, in copying order, each with its payload name.
!define FILE_COUNT 7
Var Target0
Var Target1
Var Target2
Var Target3
Var Target4
Var Target5
Var Target6
; The file that was there before, moved aside under this name ("" if none).
Var Aside0
Var Aside1
Var Aside2
Var Aside3
Var Aside4
Var Aside5
Var Aside6
; 1 once the new file is in place.
Var Placed0
Var Placed1
Var Placed2
Var Placed3
Var Placed4
Var Placed5
Var Placed6

Var Failure      ; message of the first failure, "" while all goes well
Var ExitCode
Var FolderMade   ; 1 when this run created the Start menu folder
Var DriverMade   ; 1 when this run created the driver's service
Var ServiceMade  ; 1 when this run created the service
; Parameters and result of the service functions.
Var SvcName
Var SvcDisplay
Var SvcImage
Var SvcType
Var SvcStart
Var SvcResult

Function .onInit
  SetShellVarContext all
  StrCpy $Target0 "$WINDIR\QuenvarUI.exe"
  StrCpy $Target1 "$WINDIR\QuenvarDll.dll"
  StrCpy $Target2 "$SYSDIR\QuenvarSvc.exe"
  StrCpy $Target3 "$SYSDIR\Drivers\Quenvr.sys"
  StrCpy $Target4 "${FOLDER}\ReadMe.rtf"
  StrCpy $Target5 "${FOLDER}\License.rtf"
  StrCpy $Target6 "${FOLDER}\Lockmere Help.chm"

  ; Administrative rights are what creating services takes: ask the Service
  ; Control Manager for exactly that before anything is changed.
  System::Call 'advapi32::OpenSCManagerW(p 0, p 0, i 0xF003F) p .r0'
  ${If} $0 == 0
    MessageBox MB_OK|MB_ICONSTOP "${PRODUCT} must be installed by an administrator: it installs a driver and a service for every user of this computer.$\r$\n$\r$\nLog on as an administrator and run setup again. Nothing has been changed." /SD IDOK
    SetErrorLevel 5
    Quit
  ${EndIf}

  ; After an uninstall the services stay marked for deletion, and the files
  ; stay scheduled for deletion, until the restart: installing now would be
  ; undone by that restart.
  StrCpy $SvcName "QuenvarSvc"
  Call IsMarkedForDelete
  StrCpy $1 $SvcResult
  StrCpy $SvcName "Quenvar"
  Call IsMarkedForDelete
  IntOp $1 $1 | $SvcResult
  System::Call 'advapi32::CloseServiceHandle(p r0)'
  ${If} $1 <> 0
    MessageBox MB_OK|MB_ICONSTOP "${PRODUCT} has been uninstalled and the computer has not been restarted since. The restart completes the uninstall.$\r$\n$\r$\nRestart the computer, then run setup again. Nothing has been changed." /SD IDOK
    SetErrorLevel ${ERROR_SERVICE_MARKED_FOR_DELETE}
    Quit
  ${EndIf}
FunctionEnd

; In: $SvcName, manager handle in $0. Out: $SvcResult 1 when the service
; exists but is marked for deletion, else 0.
Function IsMarkedForDelete
  StrCpy $SvcResult 0
  System::Call 'advapi32::OpenServiceW(p r0, w "$SvcName", i 0x2) p .r5'  ; SERVICE_CHANGE_CONFIG
  ${If} $5 != 0
    ; Changing nothing still fails on a service that is marked for deletion.
    System::Call 'advapi32::ChangeServiceConfigW(p r5, i -1, i -1, i -1, p 0, p 0, p 0, p 0, p 0, p 0, p 0) i .r6 ?e'
    Pop $7
    ${If} $6 = 0
    ${AndIf} $7 = ${ERROR_SERVICE_MARKED_FOR_DELETE}
      StrCpy $SvcResult 1
    ${EndIf}
    System::Call 'advapi32::CloseServiceHandle(p r5)'
  ${EndIf}
FunctionEnd

; Moves an existing file aside to a free name in its own folder, so that a new
; file can take its place even while the old one runs (a running program or a
; loaded driver can be renamed, not overwritten). A file that cannot be renamed
; is in use in a way that setup must not break.
!macro SetAside N
  StrCpy $Aside${N} ""
  ${If} $Failure == ""
  ${AndIf} ${FileExists} "$Target${N}"
    StrCpy $R8 0
    ${DoWhile} ${FileExists} "$Target${N}.$R8.old"
      IntOp $R8 $R8 + 1
    ${Loop}
    ClearErrors
    Rename "$Target${N}" "$Target${N}.$R8.old"
    ${If} ${Errors}
      StrCpy $Failure "Setup cannot replace the file$\r$\n$Target${N}$\r$\nbecause another program is using it. Close that program and run setup again.$\r$\n$\r$\nNothing has been changed."
      StrCpy $ExitCode 32
    ${Else}
      StrCpy $Aside${N} "$Target${N}.$R8.old"
    ${EndIf}
  ${EndIf}
!macroend

!macro Place N PAYLOAD
  StrCpy $Placed${N} 0
  ${If} $Failure == ""
    DetailPrint "Copying $Target${N}"
    System::Call 'kernel32::CopyFileW(w "$PLUGINSDIR\payload\${PAYLOAD}", w "$Target${N}", i 1) i .r0 ?e'
    Pop $1
    ${If} $0 <> 0
      StrCpy $Placed${N} 1
    ${Else}
      StrCpy $Failure "Setup cannot write the file$\r$\n$Target${N}$\r$\n(error $1).$\r$\n$\r$\nNothing has been changed."
      StrCpy $ExitCode 1603
    ${EndIf}
  ${EndIf}
!macroend

; Undoes one file: removes the new copy and puts the old file back.
!macro Restore N
  ${If} $Placed${N} = 1
    Delete "$Target${N}"
  ${EndIf}
  ${If} $Aside${N} != ""
    Rename "$Aside${N}" "$Target${N}"
  ${EndIf}
!macroend

; The old file of an upgrade: deleted now, or at the restart while it runs.
!macro DropAside N
  ${If} $Aside${N} != ""
    ClearErrors
    Delete "$Aside${N}"
    ${If} ${Errors}
      Delete /REBOOTOK "$Aside${N}"
    ${EndIf}
  ${EndIf}
!macroend

Function RestoreFiles
  !insertmacro Restore 6
  !insertmacro Restore 5
  !insertmacro Restore 4
  !insertmacro Restore 3
  !insertmacro Restore 2
  !insertmacro Restore 1
  !insertmacro Restore 0
  ${If} $FolderMade = 1
    RMDir "${FOLDER}"
  ${EndIf}
FunctionEnd

; In: manager handle in $0, $SvcName, $SvcDisplay ("" for none), $SvcImage,
; $SvcType, $SvcStart. Out: $SvcResult "made", "exists" or an error number.
Function MakeService
  ${If} $SvcDisplay == ""
    System::Call 'advapi32::CreateServiceW(p r0, w "$SvcName", p 0, i 0xF01FF, i $SvcType, i $SvcStart, i 1, w "$SvcImage", p 0, p 0, p 0, p 0, p 0) p .r5 ?e'
  ${Else}
    System::Call 'advapi32::CreateServiceW(p r0, w "$SvcName", w "$SvcDisplay", i 0xF01FF, i $SvcType, i $SvcStart, i 1, w "$SvcImage", p 0, p 0, p 0, p 0, p 0) p .r5 ?e'
  ${EndIf}
  Pop $6
  ${If} $5 != 0
    System::Call 'advapi32::CloseServiceHandle(p r5)'
    StrCpy $SvcResult "made"
  ${ElseIf} $6 = ${ERROR_SERVICE_EXISTS}
    StrCpy $SvcResult "exists"
  ${Else}
    StrCpy $SvcResult $6
  ${EndIf}
FunctionEnd

; In: manager handle in $0, $SvcName. Out: $SvcResult 0 when it runs now,
; else the error of StartService.
Function StartNamedService
  System::Call 'advapi32::OpenServiceW(p r0, w "$SvcName", i 0x10) p .r5 ?e'  ; SERVICE_START
  Pop $6
  ${If} $5 == 0
    StrCpy $SvcResult $6
    Return
  ${EndIf}
  System::Call 'advapi32::StartServiceW(p r5, i 0, p 0) i .r6 ?e'
  Pop $7
  ${If} $6 <> 0
  ${OrIf} $7 = ${ERROR_SERVICE_ALREADY_RUNNING}
    StrCpy $SvcResult 0
  ${Else}
    StrCpy $SvcResult $7
  ${EndIf}
  System::Call 'advapi32::CloseServiceHandle(p r5)'
FunctionEnd

; Removes the service $SvcName that this run created, when a later step failed.
Function DropService
  System::Call 'advapi32::OpenServiceW(p r0, w "$SvcName", i 0x10000) p .r5'  ; DELETE
  ${If} $5 != 0
    System::Call 'advapi32::DeleteService(p r5)'
    System::Call 'advapi32::CloseServiceHandle(p r5)'
  ${EndIf}
FunctionEnd

; One value of the installation's registry entries; a failed write fails setup.
!macro Footprint KIND KEY NAME DATA
  ${If} $Failure == ""
    ClearErrors
    WriteReg${KIND} HKLM "${KEY}" "${NAME}" "${DATA}"
    ${If} ${Errors}
      StrCpy $Failure "Setup cannot write the registry value ${NAME} of HKEY_LOCAL_MACHINE\${KEY}."
      StrCpy $ExitCode 1603
    ${EndIf}
  ${EndIf}
!macroend

Section "Install"
  SetDetailsPrint both
  StrCpy $Failure ""
  StrCpy $ExitCode 0
  StrCpy $FolderMade 0
  StrCpy $DriverMade 0
  StrCpy $ServiceMade 0
!ifdef STANDIN_DRIVER
  DetailPrint "This test build installs the stand-in driver of the test suite as Quenvr.sys."
!endif

  ; Everything is unpacked first, so that a damaged setup program fails before
  ; the system is touched.
  InitPluginsDir
  SetOutPath "$PLUGINSDIR\payload"
  File "/oname=QuenvarUI.exe" "${BIN_DIR}/QuenvarUI.exe"
  File "/oname=QuenvarDll.dll" "${BIN_DIR}/QuenvarDll.dll"
  File "/oname=QuenvarSvc.exe" "${BIN_DIR}/QuenvarSvc.exe"
  File "/oname=Quenvr.sys" "${DRIVER_FILE}"
  File "/oname=ReadMe.rtf" "${DOCS_DIR}/ReadMe.rtf"
  File "/oname=License.rtf" "${DOCS_DIR}/License.rtf"
  File "/oname=Lockmere Help.chm" "${DOCS_DIR}/Lockmere Help.chm"
  SetOutPath "$TEMP"

  ${IfNot} ${FileExists} "${FOLDER}\*.*"
    CreateDirectory "${FOLDER}"
    StrCpy $FolderMade 1
  ${EndIf}

  ; Files: all old ones aside first, then the new ones in place; any failure
  ; puts everything back.
  !insertmacro SetAside 0
  !insertmacro SetAside 1
  !insertmacro SetAside 2
  !insertmacro SetAside 3
  !insertmacro SetAside 4
  !insertmacro SetAside 5
  !insertmacro SetAside 6
  !insertmacro Place 0 "QuenvarUI.exe"
  !insertmacro Place 1 "QuenvarDll.dll"
  !insertmacro Place 2 "QuenvarSvc.exe"
  !insertmacro Place 3 "Quenvr.sys"
  !insertmacro Place 4 "ReadMe.rtf"
  !insertmacro Place 5 "License.rtf"
  !insertmacro Place 6 "Lockmere Help.chm"
  ${If} $Failure != ""
    Call RestoreFiles
    Goto failed
  ${EndIf}

  ; The services. They are created with absolute image paths and the driver on
  ; demand, since a driver starts only so (Wine loads no other way); the
  ; registry values written below then give both their boot-time form.
  System::Call 'advapi32::OpenSCManagerW(p 0, p 0, i 0xF003F) p .r0'
  DetailPrint "Creating the service Quenvar (kernel driver)"
  StrCpy $SvcName "Quenvar"
  StrCpy $SvcDisplay ""
  StrCpy $SvcImage "$SYSDIR\Drivers\Quenvr.sys"
  StrCpy $SvcType 1    ; SERVICE_KERNEL_DRIVER
  StrCpy $SvcStart 3   ; SERVICE_DEMAND_START, until the values below
  Call MakeService
  StrCpy $1 $SvcResult
  ${If} $1 == "made"
    StrCpy $DriverMade 1
  ${ElseIf} $1 != "exists"
    StrCpy $Failure "Setup cannot create the service Quenvar (error $1).$\r$\n$\r$\nNothing has been changed."
  ${EndIf}
  ${If} $Failure == ""
    DetailPrint "Creating the service QuenvarSvc"
    StrCpy $SvcName "QuenvarSvc"
    StrCpy $SvcDisplay "Quenvar Service"
    StrCpy $SvcImage "$SYSDIR\QuenvarSvc.exe"
    StrCpy $SvcType 16   ; SERVICE_WIN32_OWN_PROCESS
    StrCpy $SvcStart 2   ; SERVICE_AUTO_START
    Call MakeService
    StrCpy $1 $SvcResult
    ${If} $1 == "made"
      StrCpy $ServiceMade 1
    ${ElseIf} $1 != "exists"
      StrCpy $Failure "Setup cannot create the service QuenvarSvc (error $1).$\r$\n$\r$\nNothing has been changed."
    ${EndIf}
  ${EndIf}
  ${If} $Failure != ""
    StrCpy $ExitCode 1603
    ${If} $DriverMade = 1
      StrCpy $SvcName "Quenvar"
      Call DropService
    ${EndIf}
    System::Call 'advapi32::CloseServiceHandle(p r0)'
    Call RestoreFiles
    Goto failed
  ${EndIf}

  ; The installation is in place: the old files go.
  !insertmacro DropAside 0
  !insertmacro DropAside 1
  !insertmacro DropAside 2
  !insertmacro DropAside 3
  !insertmacro DropAside 4
  !insertmacro DropAside 5
  !insertmacro DropAside 6

  DetailPrint "Starting the driver"
  StrCpy $SvcName "Quenvar"
  Call StartNamedService
  StrCpy $2 $SvcResult

  ; The installation's registry entries, exactly as the registry guard keeps
  ; them. The driver's entry has no display name.
  DetailPrint "Writing the registry entries"
  DeleteRegValue HKLM "${SERVICES_KEY}\Quenvar" "DisplayName"
  !insertmacro Footprint DWORD "${SERVICES_KEY}\Quenvar" "ErrorControl" 1
  !insertmacro Footprint DWORD "${SERVICES_KEY}\Quenvar" "Start" 0
  !insertmacro Footprint DWORD "${SERVICES_KEY}\Quenvar" "Type" 1
  !insertmacro Footprint Str "${SERVICES_KEY}\Quenvar" "Group" "System Reserved"
  !insertmacro Footprint ExpandStr "${SERVICES_KEY}\Quenvar" "ImagePath" "System32\Drivers\Quenvr.sys"
  !insertmacro Footprint DWORD "${SERVICES_KEY}\QuenvarSvc" "ErrorControl" 1
  !insertmacro Footprint DWORD "${SERVICES_KEY}\QuenvarSvc" "Start" 2
  !insertmacro Footprint DWORD "${SERVICES_KEY}\QuenvarSvc" "Type" 16
  !insertmacro Footprint Str "${SERVICES_KEY}\QuenvarSvc" "Group" "Quenvar"
  !insertmacro Footprint Str "${SERVICES_KEY}\QuenvarSvc" "ObjectName" "LocalSystem"
  !insertmacro Footprint ExpandStr "${SERVICES_KEY}\QuenvarSvc" "ImagePath" "System32\QuenvarSvc.exe"
  !insertmacro Footprint Str "${SERVICES_KEY}\QuenvarSvc" "DisplayName" "Quenvar Service"
  !insertmacro Footprint Str "${RUN_KEY}" "QuenvarUI" "QuenvarUI.exe"
  !insertmacro Footprint Str "${UNINSTALL_KEY}" "DisplayName" "Quenvar Lockmere"
  !insertmacro Footprint Str "${UNINSTALL_KEY}" "UninstallString" "QuenvarUI.exe /U"

  DetailPrint "Starting the Quenvar Service"
  StrCpy $SvcName "QuenvarSvc"
  Call StartNamedService
  StrCpy $3 $SvcResult
  System::Call 'advapi32::CloseServiceHandle(p r0)'

  ${If} $Failure != ""
    Goto failed
  ${EndIf}
  ${If} $2 <> 0
  ${OrIf} $3 <> 0
    StrCpy $Failure "${PRODUCT} is installed, but its protection could not be started now (driver: error $2, service: error $3). It starts with Windows: restart the computer."
    StrCpy $ExitCode 1603
    Goto failed
  ${EndIf}

  ; The program of the installing user's logon; an upgrade leaves a running
  ; one alone (the new one starts at the next logon).
  FindWindow $4 "#32770" "${PRODUCT} ${VERSION}"
  ${If} $4 = 0
    DetailPrint "Starting ${PRODUCT}"
    Exec '"$WINDIR\QuenvarUI.exe"'
  ${EndIf}

  ${If} ${RebootFlag}
    DetailPrint "The restart completes the installation: files of the running system are replaced then."
    StrCpy $ExitCode 3010
    MessageBox MB_YESNO|MB_ICONQUESTION "${PRODUCT} is installed. Files of the version that is running now are removed when you restart the computer, and the new version runs from then on.$\r$\n$\r$\nWould you like to restart now?" /SD IDNO IDNO done
    Reboot
  ${EndIf}
  Goto done

failed:
  DetailPrint "$Failure"
  MessageBox MB_OK|MB_ICONSTOP "$Failure" /SD IDOK
  SetErrorLevel $ExitCode
  Abort
done:
  SetErrorLevel $ExitCode
SectionEnd

; A sample installer for setup authors: how a setup program calls qz7instm.dll.
;
; It installs the DLL and its message library qz7setup.dll, opens a setup log of its own, loads
; the message library as a data file and calls createInstances, which carries the computer's
; instances over to this installation (and creates the default instance QZ7 where there is none).
; Its uninstaller calls deleteInstances, which removes every instance, their services and the
; profile registry. All three exports are cdecl ("?c" below); texts are single-byte ("m").
;
; Build it with Debian's makensis, for the processor of the DLL it installs:
;   makensis -DTARGET=x86-unicode   -DBIN=build/windows-x86/bin -DOUTFILE=setup-x86.exe qz7instm-setup.nsi
;   makensis -DTARGET=amd64-unicode -DBIN=build/windows/bin     -DOUTFILE=setup-x64.exe qz7instm-setup.nsi
; Run it: setup.exe [/S] [/PROFILE=C:\QZ7PROF] [/D=C:\QZ7]
;   /PROFILE= the instance-profile folder of the earlier release, where its instances are; they
;             move into the installation. Without it the instances stay where the profile
;             registry has them.
; The installer's exit code is the result of createInstances: 0, 1 (a step failed; the log
; says which) or the code of an unreachable profile registry.

Unicode true
!ifndef TARGET
  !define TARGET x86-unicode
!endif
Target ${TARGET}
!ifndef BIN
  !error "give -DBIN=<the folder of qz7instm.dll and qz7setup.dll>"
!endif
!ifndef OUTFILE
  !define OUTFILE qz7instm-setup.exe
!endif

!include FileFunc.nsh
!include LogicLib.nsh

Name "QZ7 instances (sample)"
OutFile "${OUTFILE}"
InstallDir "C:\QZ7"
RequestExecutionLevel admin
ShowInstDetails show

Var LogHandle   ; HANDLE of the setup log
Var LogPointer  ; where that HANDLE is kept: createInstances takes a pointer to it
Var Messages    ; HMODULE of qz7setup.dll, loaded as data: its string table holds the messages
Var Owner       ; the window that owns message boxes; none in a silent run
Var Library     ; HMODULE of qz7instm.dll

; Opens (or appends to) $INSTDIR\qz7setup.log, loads the message library and qz7instm.dll.
!macro OpenSetupResources
  ; GENERIC_WRITE, FILE_SHARE_READ, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL
  System::Call 'kernel32::CreateFileA(m "$INSTDIR\qz7setup.log", i 0x40000000, i 1, p 0, i 4, i 0x80, p 0) p .r0'
  StrCpy $LogHandle $0
  System::Call '*(p r0) p .r0'
  StrCpy $LogPointer $0
  ; LOAD_LIBRARY_AS_DATAFILE
  System::Call 'kernel32::LoadLibraryExA(m "$INSTDIR\qz7setup.dll", p 0, i 2) p .r0'
  StrCpy $Messages $0
  System::Call 'kernel32::LoadLibraryA(m "$INSTDIR\qz7instm.dll") p .r0'
  StrCpy $Library $0
  StrCpy $Owner $HWNDPARENT
  IfSilent 0 +2
    StrCpy $Owner 0
!macroend

!macro CloseSetupResources
  System::Call 'kernel32::FreeLibrary(p $Library)'
  System::Call 'kernel32::FreeLibrary(p $Messages)'
  System::Call 'kernel32::CloseHandle(p $LogHandle)'
  System::Free $LogPointer
!macroend

Section "Install"
  SetOutPath "$INSTDIR"
  File "${BIN}\qz7instm.dll"
  File "${BIN}\qz7setup.dll"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  ${GetParameters} $1
  ClearErrors
  ${GetOptions} $1 "/PROFILE=" $1
  ${If} ${Errors}
    StrCpy $1 ""
  ${EndIf}

  !insertmacro OpenSetupResources
  ${If} $Library == 0
    DetailPrint "qz7instm.dll could not be loaded"
    SetErrorLevel 2
    Abort
  ${EndIf}
  ; No instance is requested: the descriptor array holds only its closing null pointer. A setup
  ; program that asks for instances lays out one 0x196-byte descriptor each (name at 0x000,
  ; account at 0x009, password at 0x037, kind at 0x048, makeDefault at 0x04C, ...) and puts
  ; their addresses before the null pointer.
  System::Call '*(p 0) p .r2'
  System::Call 'qz7instm::createInstances(m r1, m r1, m "$INSTDIR", p r2, p $LogPointer, p $Messages, p $Owner) i .r3 ?c'
  System::Free $2
  !insertmacro CloseSetupResources
  DetailPrint "createInstances returned $3"
  SetErrorLevel $3
SectionEnd

Section "Uninstall"
  !insertmacro OpenSetupResources
  ${If} $Library != 0
    System::Call 'qz7instm::deleteInstances(m "$INSTDIR", m "$INSTDIR", p $LogPointer, p $Messages, p $Owner) ?c'
  ${EndIf}
  !insertmacro CloseSetupResources
  Delete "$INSTDIR\qz7instm.dll"
  Delete "$INSTDIR\qz7setup.dll"
  Delete "$INSTDIR\uninstall.exe"
SectionEnd

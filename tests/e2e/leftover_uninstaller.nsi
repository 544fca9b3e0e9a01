; A leftover NSIS uninstaller, built at test time. The installer only writes
; the uninstaller beside itself. Started with /S, the uninstaller copies itself
; to the temporary folder, starts the copy and ends; the copy does the work
; below: it logs its start, takes MS milliseconds, logs whether capicom.dll
; and the vendor libraries were still there, and deletes the original.
;   makensis -DTARGET=amd64-unicode -DUNNAME=uninst.exe -DMS=2000 -DOUT=writer.exe
Unicode true
Target ${TARGET}
Name "Leftover"
OutFile "${OUT}"
SilentInstall silent
RequestExecutionLevel user

Section
  WriteUninstaller "$EXEDIR\${UNNAME}"
SectionEnd

Section "Uninstall"
  FileOpen $0 "C:\e2e\nsis.log" a
  FileSeek $0 0 END
  FileWrite $0 "${UNNAME} start $EXEPATH$\r$\n"
  FileClose $0
  Sleep ${MS}
  StrCpy $1 0
  IfFileExists "$SYSDIR\capicom.dll" 0 +2
    StrCpy $1 1
  StrCpy $2 0
  IfFileExists "$SYSDIR\ZenfoResv3_kstv.dll" 0 +2
    IntOp $2 $2 + 1
  IfFileExists "$SYSDIR\ZenfoResv3E_kstv.dll" 0 +2
    IntOp $2 $2 + 1
  IfFileExists "$SYSDIR\ZenfoResv3T_kstv.dll" 0 +2
    IntOp $2 $2 + 1
  FileOpen $0 "C:\e2e\nsis.log" a
  FileSeek $0 0 END
  FileWrite $0 "${UNNAME} end capicom=$1 libs=$2$\r$\n"
  FileClose $0
  Delete "$INSTDIR\${UNNAME}"
SectionEnd

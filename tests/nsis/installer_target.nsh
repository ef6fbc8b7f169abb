; The kind of installer the test harness builds: a 32-bit one, unless the
; harness defines TARGET (amd64-unicode for a 64-bit installer).
Unicode true
!ifdef TARGET
  Target ${TARGET}
!endif

; What the header's test installers check around each call: every register
; gets a value of its own and the script leaves two texts on the stack that
; look like registry arguments ("end" over "HKLM"); afterwards one line goes
; to $Log with the output, the registers that changed, the error flag and the
; texts found on the stack. A macro that takes too much from the stack takes
; these; one that leaves something behind shows it above them.
Var Log
Var Out
Var Bad
Var Found
Var Item
Var S0
Var S1
Var S2
Var S3
Var S4
Var S5
Var S6
Var S7
Var S8
Var S9
Var SR0
Var SR1
Var SR2
Var SR3
Var SR4
Var SR5
Var SR6
Var SR7
Var SR8
Var SR9

!macro Snapshot
  StrCpy $S0 $0
  StrCpy $S1 $1
  StrCpy $S2 $2
  StrCpy $S3 $3
  StrCpy $S4 $4
  StrCpy $S5 $5
  StrCpy $S6 $6
  StrCpy $S7 $7
  StrCpy $S8 $8
  StrCpy $S9 $9
  StrCpy $SR0 $R0
  StrCpy $SR1 $R1
  StrCpy $SR2 $R2
  StrCpy $SR3 $R3
  StrCpy $SR4 $R4
  StrCpy $SR5 $R5
  StrCpy $SR6 $R6
  StrCpy $SR7 $R7
  StrCpy $SR8 $R8
  StrCpy $SR9 $R9
!macroend

; Each register holds a value of its own; the script's two texts go on the
; stack; the error flag is clear.
!macro Before
  StrCpy $0 "v0"
  StrCpy $1 "v1"
  StrCpy $2 "v2"
  StrCpy $3 "v3"
  StrCpy $4 "v4"
  StrCpy $5 "v5"
  StrCpy $6 "v6"
  StrCpy $7 "v7"
  StrCpy $8 "v8"
  StrCpy $9 "v9"
  StrCpy $R0 "vR0"
  StrCpy $R1 "vR1"
  StrCpy $R2 "vR2"
  StrCpy $R3 "vR3"
  StrCpy $R4 "vR4"
  StrCpy $R5 "vR5"
  StrCpy $R6 "vR6"
  StrCpy $R7 "vR7"
  StrCpy $R8 "vR8"
  StrCpy $R9 "vR9"
  !insertmacro Snapshot
  StrCpy $Out "(not set)"
  Push "HKLM"
  Push "end"
  ClearErrors
!macroend

!macro CheckRegister REG NAME SKIP
  !if `${NAME}` != `${SKIP}`
    StrCmpS ${REG} $S${NAME} +2
      StrCpy $Bad "$Bad ${NAME}"
  !endif
!macroend

; Everything popped until the stack is empty, as [text][text]...
!macro EmptyStackInto VAR
  StrCpy ${VAR} ""
  ClearErrors
  Pop $Item
  IfErrors +3
    StrCpy ${VAR} "${VAR}[$Item]"
    Goto -3
  ClearErrors
!macroend

; SKIP names the register that holds the output ("-" when it is $Out).
!macro After NAME SKIP OUTPUT
  StrCpy $Bad ""
  IfErrors 0 +2
    StrCpy $Bad " errors"
  !insertmacro CheckRegister $0 0 ${SKIP}
  !insertmacro CheckRegister $1 1 ${SKIP}
  !insertmacro CheckRegister $2 2 ${SKIP}
  !insertmacro CheckRegister $3 3 ${SKIP}
  !insertmacro CheckRegister $4 4 ${SKIP}
  !insertmacro CheckRegister $5 5 ${SKIP}
  !insertmacro CheckRegister $6 6 ${SKIP}
  !insertmacro CheckRegister $7 7 ${SKIP}
  !insertmacro CheckRegister $8 8 ${SKIP}
  !insertmacro CheckRegister $9 9 ${SKIP}
  !insertmacro CheckRegister $R0 R0 ${SKIP}
  !insertmacro CheckRegister $R1 R1 ${SKIP}
  !insertmacro CheckRegister $R2 R2 ${SKIP}
  !insertmacro CheckRegister $R3 R3 ${SKIP}
  !insertmacro CheckRegister $R4 R4 ${SKIP}
  !insertmacro CheckRegister $R5 R5 ${SKIP}
  !insertmacro CheckRegister $R6 R6 ${SKIP}
  !insertmacro CheckRegister $R7 R7 ${SKIP}
  !insertmacro CheckRegister $R8 R8 ${SKIP}
  !insertmacro CheckRegister $R9 R9 ${SKIP}
  StrCpy $Out "${OUTPUT}"
  !insertmacro EmptyStackInto $Found
  FileWriteUTF16LE $Log "${NAME} out=[$Out] changed=[$Bad] stack=$Found$\r$\n"
!macroend

; The condition in each shape LogicLib gives it (a jump when true, a jump
; when false); the output lists the bodies that ran.
!macro ConditionCase NAME OP ARG
  !insertmacro Before
  StrCpy $Out ""
  ${If} "" ${OP} `${ARG}`
    StrCpy $Out "$Out If:y"
  ${Else}
    StrCpy $Out "$Out If:n"
  ${EndIf}
  ${Unless} "" ${OP} `${ARG}`
    StrCpy $Out "$Out Unless:y"
  ${Else}
    StrCpy $Out "$Out Unless:n"
  ${EndIf}
  ${If} 1 = 1
  ${AndIf} "" ${OP} `${ARG}`
    StrCpy $Out "$Out AndIf:y"
  ${EndIf}
  ${If} 1 = 0
  ${OrIf} "" ${OP} `${ARG}`
    StrCpy $Out "$Out OrIf:y"
  ${EndIf}
  ${If} 1 = 0
  ${ElseIf} "" ${OP} `${ARG}`
    StrCpy $Out "$Out ElseIf:y"
  ${EndIf}
  ${IfNot} "" ${OP} `${ARG}`
  ${OrIfNot} "" ${OP} `${ARG}`
    StrCpy $Out "$Out IfNot:y"
  ${EndIf}
  !insertmacro After ${NAME} - $Out
!macroend

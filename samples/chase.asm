; A running light on PORTD, stepped through a pattern table that lies high
; in program memory, just below the bootloader at 0x7D00: a file that fills
; nearly the whole program area, for a long download.
        list    p=18f452
        include <p18f452.inc>
        errorlevel -302                 ; SFRs are reached through the access bank

        config  OSC = XT, PWRT = ON, WDT = OFF, LVP = OFF, DEBUG = OFF

step            equ     0x00            ; access RAM: table index
delay_outer     equ     0x01
delay_inner     equ     0x02

PATTERNS        equ     0x7C00          ; 256 bytes, ends at 0x7D00

        org     0x0000
        goto    start
        nop
        nop

        org     0x0040
start:
        clrf    LATD, ACCESS
        clrf    TRISD, ACCESS           ; PORTD all outputs
        clrf    step, ACCESS
        movlw   upper PATTERNS
        movwf   TBLPTRU, ACCESS
        movlw   high PATTERNS
        movwf   TBLPTRH, ACCESS
next:
        movff   step, TBLPTRL
        tblrd*
        movff   TABLAT, LATD
        incf    step, F, ACCESS         ; wraps after 256 steps
        rcall   delay
        bra     next

delay:
        movlw   d'100'
        movwf   delay_outer, ACCESS
outer:
        clrf    delay_inner, ACCESS
inner:
        decfsz  delay_inner, F, ACCESS
        bra     inner
        decfsz  delay_outer, F, ACCESS
        bra     outer
        return

        org     PATTERNS
        variable i = 0
        while i < d'256'
        db      1 << (i & 7), 1 << ((i + 1) & 7)
i = i + 2
        endw

        __idlocs _IDLOC0, 0xC
        __idlocs _IDLOC1, 0x4

        org     0xF00000                ; data EEPROM
        de      "CHASE", 0

        end

; Blinks an LED on RB0, about twice a second with a 4 MHz crystal.
; The first sample to load: program code with a jump at the reset vector,
; configuration bits, ID locations and data EEPROM bytes, as an assembler
; writes them. Only the program code is sent to the device; the rest of
; the file is checked and left out.
        list    p=18f452
        include <p18f452.inc>
        errorlevel -302                 ; SFRs are reached through the access bank

        config  OSC = HS, PWRT = ON, BOR = OFF, WDT = OFF, LVP = OFF

delay_outer     equ     0x00            ; access RAM counters
delay_inner     equ     0x01
blink_count     equ     0x02

        org     0x0000                  ; reset vector: the first 8 bytes
        goto    start
        nop
        nop

        org     0x0008                  ; high-priority interrupt vector
        retfie  FAST

        org     0x0018                  ; low-priority interrupt vector
        retfie

        org     0x0040
start:
        clrf    LATB, ACCESS
        bcf     TRISB, 0, ACCESS        ; RB0 drives the LED
        clrf    blink_count, ACCESS
blink:
        btg     LATB, 0, ACCESS
        incf    blink_count, F, ACCESS
        rcall   delay_250ms
        bra     blink

; 250 x 1 ms at 1 us per instruction cycle.
delay_250ms:
        movlw   d'250'
        movwf   delay_outer, ACCESS
outer:
        movlw   d'249'
        movwf   delay_inner, ACCESS
inner:
        nop
        decfsz  delay_inner, F, ACCESS
        bra     inner
        decfsz  delay_outer, F, ACCESS
        bra     outer
        return

        __idlocs _IDLOC0, 0x5
        __idlocs _IDLOC1, 0xA
        __idlocs _IDLOC7, 0x1

        org     0xF00000                ; data EEPROM
        de      "BLINK", 0
        de      0x01, 0x00

        end

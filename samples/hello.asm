; Says hello on the UART (TX on RC6, 19200 baud from a 20 MHz crystal), then
; blinks an LED on RB0. The sample that shows a downloaded program running:
; the simulated chip prints what it sends. It carries no configuration
; words: a download does not program them, and the program runs with the
; bootloader's. Built for the PIC18F452; the same SFRs serve every PIC18 the
; bootloader is built for, so for another part and its TX pin:
;   gpasm -p p18f1220 -D TX_TRIS=TRISB -D TX_BIT=1 -o hello-1220.hex hello.asm
        list    p=18f452
        include <p18cxxx.inc>
        errorlevel -302, -215

#ifndef TX_TRIS
#define TX_TRIS TRISC
#define TX_BIT  6
#endif

delay_outer     equ     0x00
delay_inner     equ     0x01

        org     0x0000
        goto    start
        nop
        nop

        org     0x0040
start:
        movlw   d'64'                   ; 20 MHz / (16 x 65) = 19231 baud
        movwf   SPBRG, ACCESS
        movlw   b'00100100'             ; TXEN, BRGH
        movwf   TXSTA, ACCESS
        movlw   b'10000000'             ; SPEN
        movwf   RCSTA, ACCESS
        bcf     TX_TRIS, TX_BIT, ACCESS
        movlw   upper greeting
        movwf   TBLPTRU, ACCESS
        movlw   high greeting
        movwf   TBLPTRH, ACCESS
        movlw   low greeting
        movwf   TBLPTRL, ACCESS
next_char:
        tblrd*+
        movf    TABLAT, W, ACCESS
        bz      blink_setup
wait_tx:
        clrwdt                          ; gpsim runs the watchdog whatever the fuses say
        btfss   PIR1, TXIF, ACCESS
        bra     wait_tx
        movwf   TXREG, ACCESS
        bra     next_char

blink_setup:
        clrf    LATB, ACCESS
        bcf     TRISB, 0, ACCESS
blink:
        btg     LATB, 0, ACCESS
        rcall   delay
        bra     blink

delay:
        movlw   d'250'
        movwf   delay_outer, ACCESS
outer:
        clrf    delay_inner, ACCESS
inner:
        clrwdt
        decfsz  delay_inner, F, ACCESS
        bra     inner
        decfsz  delay_outer, F, ACCESS
        bra     outer
        return

greeting:
        db      "Hello from the PIC18!", 0x0D, 0x0A, 0

        end

; The bootloader for the PIC18F248.
        list    p=18f248
        include <p18f248.inc>
; Settings from the PIC18FXX8 data sheet (DS41159); brown-out at 4.2 V, the lowest
; supply the PIC18F (not LF) parts run on at any clock, flash self-writes included.
        config  OSC = HS, OSCS = OFF, PWRT = ON, BOR = ON, BORV = 42, WDT = OFF
        config  STVR = ON, LVP = OFF, DEBUG = OFF
        config  CP0 = OFF, CP1 = OFF, CPB = OFF, CPD = OFF
        config  WRT0 = OFF, WRT1 = OFF, WRTB = OFF, WRTC = OFF, WRTD = OFF
        config  EBTR0 = OFF, EBTR1 = OFF, EBTRB = OFF
        include "bootloader.inc"

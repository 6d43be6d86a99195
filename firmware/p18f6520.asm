; The bootloader for the PIC18F6520.
        list    p=18f6520
        include <p18f6520.inc>
; Settings from the PIC18F6520/8520/6620/8620/6720/8720 data sheet (DS39609);
; brown-out at 4.2 V, the lowest supply the PIC18F (not LF) parts run on at any clock.
        config  OSC = HS, OSCS = OFF, PWRT = ON, BOR = ON, BORV = 42, WDT = OFF
        config  STVR = ON, LVP = OFF, DEBUG = OFF
        config  CP0 = OFF, CP1 = OFF, CP2 = OFF, CP3 = OFF, CPB = OFF, CPD = OFF
        config  WRT0 = OFF, WRT1 = OFF, WRT2 = OFF, WRT3 = OFF, WRTB = OFF, WRTC = OFF, WRTD = OFF
        config  EBTR0 = OFF, EBTR1 = OFF, EBTR2 = OFF, EBTR3 = OFF, EBTRB = OFF
        include "bootloader.inc"

; The bootloader for the PIC18F2620.
        list    p=18f2620
        include <p18f2620.inc>
; Settings from the PIC18F2525/2620/4525/4620 data sheet (DS39626); brown-out at
; BORV = 1, the lowest level at or above the 4.2 V minimum supply of the PIC18F parts.
        config  OSC = HS, FCMEN = OFF, IESO = OFF, PWRT = ON, BOREN = SBORDIS, BORV = 1, WDT = OFF
        config  PBADEN = OFF, MCLRE = ON, STVREN = ON, LVP = OFF, XINST = OFF, DEBUG = OFF
        config  CP0 = OFF, CP1 = OFF, CP2 = OFF, CP3 = OFF, CPB = OFF, CPD = OFF
        config  WRT0 = OFF, WRT1 = OFF, WRT2 = OFF, WRT3 = OFF, WRTB = OFF, WRTC = OFF, WRTD = OFF
        config  EBTR0 = OFF, EBTR1 = OFF, EBTR2 = OFF, EBTR3 = OFF, EBTRB = OFF
        include "bootloader.inc"

; The bootloader for the PIC18F2321.
        list    p=18f2321
        include <p18f2321.inc>
; Settings from the PIC18F2221/2321/4221/4321 data sheet (DS39689); brown-out at
; BORV = 1, the lowest level at or above the 4.2 V minimum supply of the PIC18F parts.
        config  OSC = HS, FCMEN = OFF, IESO = OFF, PWRT = ON, BOR = ON, BORV = 1, WDT = OFF
        config  PBADEN = DIG, MCLRE = ON, STVREN = ON, LVP = OFF, XINST = OFF, DEBUG = OFF
        config  CP0 = OFF, CP1 = OFF, CPB = OFF, CPD = OFF
        config  WRT0 = OFF, WRT1 = OFF, WRTB = OFF, WRTC = OFF, WRTD = OFF
        config  EBTR0 = OFF, EBTR1 = OFF, EBTRB = OFF
        include "bootloader.inc"

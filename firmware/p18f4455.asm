; The bootloader for the PIC18F4455.
        list    p=18f4455
        include <p18f4455.inc>
; Settings from the PIC18F2455/2550/4455/4550 data sheet (DS39632); the crystal
; drives the core (no PLL, USB regulator off); brown-out at BORV = 1, above 4.2 V.
        config  FOSC = HS, CPUDIV = OSC1_PLL2, FCMEN = OFF, IESO = OFF, PWRT = ON
        config  BOR = ON, BORV = 1, VREGEN = OFF, WDT = OFF, PBADEN = OFF, MCLRE = ON
        config  STVREN = ON, LVP = OFF, ICPRT = OFF, XINST = OFF, DEBUG = OFF
        config  CP0 = OFF, CP1 = OFF, CP2 = OFF, CPB = OFF, CPD = OFF
        config  WRT0 = OFF, WRT1 = OFF, WRT2 = OFF, WRTB = OFF, WRTC = OFF, WRTD = OFF
        config  EBTR0 = OFF, EBTR1 = OFF, EBTR2 = OFF, EBTRB = OFF
        include "bootloader.inc"

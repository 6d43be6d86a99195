; The bootloader for the PIC18F4620 (and PIC18F2620).
        list    p=18f4620
        include <p18f4620.inc>
        config  OSC = HS, PWRT = ON, BOREN = OFF, WDT = OFF, LVP = OFF, PBADEN = OFF, XINST = OFF
        include "bootloader.inc"

; The bootloader for the PIC18F4550 (and PIC18F2550): the crystal drives the
; core directly, without the USB PLL.
        list    p=18f4550
        include <p18f4550.inc>
        config  FOSC = HS, CPUDIV = OSC1_PLL2, PWRT = ON, BOR = OFF, WDT = OFF, LVP = OFF, PBADEN = OFF, VREGEN = OFF, XINST = OFF
        include "bootloader.inc"

; The bootloader for the PIC18F1320.
        list    p=18f1320
        include <p18f1320.inc>
; Settings from the PIC18F1220/1320 data sheet (DS39605); brown-out at 4.2 V, the
; lowest supply the PIC18F (not LF) parts run on, flash self-writes included.
        config  OSC = HS, FSCM = OFF, IESO = OFF, PWRT = ON, BOR = ON, BORV = 42, WDT = OFF
        config  MCLRE = ON, STVR = ON, LVP = OFF, DEBUG = OFF
        config  CP0 = OFF, CP1 = OFF, CPB = OFF, CPD = OFF
        config  WRT0 = OFF, WRT1 = OFF, WRTB = OFF, WRTC = OFF, WRTD = OFF
        config  EBTR0 = OFF, EBTR1 = OFF, EBTRB = OFF
; RB1 (TX) is AN5 and RB4 (RX) is AN6, analog after reset: ADCON1 resets to 0 and
; its PCFG5 and PCFG6 bits must be set (DS39605, ADCON1 register and EUSART section).
#define ANALOG_REG      ADCON1
#define ANALOG_MASK     b'01100000'
#define ANALOG_DIGITAL_SET
        include "bootloader.inc"

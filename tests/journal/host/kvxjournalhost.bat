@echo off
rem A deep step's reboot under Wine runs the autostart entry at once; the harness starts each run itself.

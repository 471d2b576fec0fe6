@echo off
rem Started by the autostart entry after a "reboot": tells the waiting chain test that it ran.
"%~dp0kvxcoredriver.exe" --autostarted

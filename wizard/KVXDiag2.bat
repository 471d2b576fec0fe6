@echo off
rem Named by the autostart entry after a reboot of the analysis: starts the wizard from this
rem file's own directory, and returns at once so that no console stays open while the wizard runs.
cd /d "%~dp0"
start "" "%~dp0KVXDiag2.exe"

@echo off
rem Runs the bundle's tests; RunTests.exe does the work (README.txt).
"%~dp0RunTests.exe" %*
exit /b %ERRORLEVEL%

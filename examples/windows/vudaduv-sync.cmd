@echo off
rem Brings every scale of the shop to hold today's item list, sending only what changed: the
rem nightly job on Windows. The tool's folder (vudaduv.exe and the DLLs of its zip) is C:\vudaduv,
rem this script beside it; the shop's files are in C:\ProgramData\vudaduv:
rem   items.txt    the list, written by the shop's export (whole, then renamed into place)
rem   scales.txt   the scales, one address a line ('#' starts a comment)
rem   state\       what each scale holds, kept by the sync
rem   last-sync.json, last-sync.html   the reports of the last run
rem   sync.log     each run's lines, one a scale, then the summary
rem Register it once, in a command prompt run as administrator:
rem   schtasks /Create /TN "vudaduv sync" /TR "C:\vudaduv\vudaduv-sync.cmd" /SC DAILY /ST 02:30 /RU SYSTEM
rem and run it at once with: schtasks /Run /TN "vudaduv sync"
rem Task Scheduler's "Last Run Result" is the tool's exit status: 0 every scale holds the list,
rem 1 a scale was not served, 4 lines the check refuses or a scale refused by the cap.
rem --max-remove 10%% (a script doubles the %%): a scale whose sync would empty more than a
rem tenth of what it holds is left untouched and the run fails. The list is read in the ANSI
rem code page (GBK on a Chinese Windows); add --charset GBK where a GBK export is read elsewhere.
setlocal
set TOOL=C:\vudaduv\vudaduv.exe
set DATA=C:\ProgramData\vudaduv
>> "%DATA%\sync.log" echo %DATE% %TIME% sync starts
"%TOOL%" sync --file "%DATA%\items.txt" --type 1 --targets-file "%DATA%\scales.txt" ^
    --state "%DATA%\state" --remove-missing --max-remove 10%% ^
    --report json:%DATA%\last-sync.json --report html:%DATA%\last-sync.html >> "%DATA%\sync.log" 2>&1
set RESULT=%ERRORLEVEL%
rem (The redirection comes first: "%RESULT%>>" would read as "1>>", a redirection of stream 1.)
>> "%DATA%\sync.log" echo %DATE% %TIME% sync ended with exit status %RESULT%
exit /b %RESULT%

# Runs the test bundle as a maintainer would, for the Windows workflow:
# checks that the program is the release (its SHA-256 is SHA256SUMS's line),
# unpacks the bundle into an empty folder, runs run-tests.cmd there with
# cmd /c, keeps report.txt and the test programs' logs in the reports
# folder, and checks that the report names the release's SHA-256. Exits with
# the run's exit code: non-zero when anything failed.
#
#   run-bundle.ps1 -Dist DIST -Folder EMPTY_FOLDER -Reports REPORTS_FOLDER
param(
    [Parameter(Mandatory)] [string] $Dist,
    [Parameter(Mandatory)] [string] $Folder,
    [Parameter(Mandatory)] [string] $Reports
)
$ErrorActionPreference = 'Stop'

function SumOf([string] $sums, [string] $name) {
    foreach ($line in Get-Content $sums) {
        if ($line -match '^([0-9a-f]{64}) [ *](.+)$' -and $Matches[2] -eq $name) { return $Matches[1] }
    }
    throw "$sums names no $name"
}

$release = SumOf (Join-Path $Dist 'SHA256SUMS') 'ModLauncher.exe'
$program = (Get-FileHash (Join-Path $Dist 'ModLauncher.exe') -Algorithm SHA256).Hash.ToLower()
if ($program -ne $release) { throw "dist\ModLauncher.exe is $program, SHA256SUMS says $release" }
$bundle = Get-ChildItem (Join-Path $Dist 'ModLauncher-tests-*.zip') | Select-Object -First 1
if (-not $bundle) { throw "no test bundle in $Dist" }
$bundleSum = SumOf (Join-Path $Dist 'SHA256SUMS-tests') $bundle.Name
if ((Get-FileHash $bundle.FullName -Algorithm SHA256).Hash.ToLower() -ne $bundleSum) {
    throw "$($bundle.Name) does not match SHA256SUMS-tests"
}

if (Test-Path $Folder) { throw "$Folder is not empty: the bundle is unpacked into an empty folder" }
New-Item -ItemType Directory -Path $Folder | Out-Null
Expand-Archive -Path $bundle.FullName -DestinationPath $Folder
Write-Host "unpacked $($bundle.Name) into $Folder"

Push-Location $Folder
try {
    & cmd.exe /d /c run-tests.cmd
    $status = $LASTEXITCODE
} finally {
    Pop-Location
}

New-Item -ItemType Directory -Force -Path $Reports | Out-Null
$report = Join-Path $Folder 'report.txt'
if (-not (Test-Path $report)) { throw "run-tests.cmd wrote no report.txt (exit code $status)" }
Copy-Item $report $Reports
Get-ChildItem (Join-Path $Folder 'work') -Filter '*.log' | Copy-Item -Destination $Reports
if (-not (Select-String -Path $report -Pattern "^SHA-256: +$release, the release's" -Quiet)) {
    Write-Host "the report does not name the release's SHA-256 $release"
    if ($status -eq 0) { $status = 1 }
}
Write-Host "run-tests.cmd exited with $status"
exit $status

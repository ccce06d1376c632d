# Makes a FAT32 and an exFAT volume from virtual disks for the Windows
# workflow, so that the bundle's tests run on those file systems too, and
# gives their drive letters as the step's outputs fat32 and exfat. Only an
# administrator may attach a virtual disk: for anyone else it says so and
# gives no output, and the runs on those volumes do not happen.
$ErrorActionPreference = 'Stop'
$identity = [Security.Principal.WindowsIdentity]::GetCurrent()
$principal = New-Object Security.Principal.WindowsPrincipal($identity)
if (-not $principal.IsInRole([Security.Principal.WindowsBuiltInRole]::Administrator)) {
    Write-Host "not an administrator: no FAT32 or exFAT volume, the bundle runs on NTFS only"
    exit 0
}

# A free drive letter, from the end of the alphabet.
function FreeLetter {
    $used = (Get-PSDrive -PSProvider FileSystem).Name
    foreach ($letter in 'T', 'S', 'Q', 'P', 'O', 'N') { if ($used -notcontains $letter) { return $letter } }
    throw 'no free drive letter'
}

foreach ($volume in @(@{ Name = 'fat32'; FileSystem = 'fat32' }, @{ Name = 'exfat'; FileSystem = 'exfat' })) {
    $disk = Join-Path $env:RUNNER_TEMP "$($volume.Name).vhdx"
    $letter = FreeLetter
    $script = Join-Path $env:RUNNER_TEMP "$($volume.Name).diskpart"
    @(
        "create vdisk file=`"$disk`" maximum=2048 type=expandable",
        "select vdisk file=`"$disk`"",
        'attach vdisk',
        'convert mbr',
        'create partition primary',
        "format fs=$($volume.FileSystem) quick label=$($volume.Name.ToUpper())",
        "assign letter=$letter"
    ) | Set-Content -Path $script -Encoding ascii
    & diskpart.exe /s $script
    if ($LASTEXITCODE -ne 0) { throw "diskpart could not make the $($volume.Name) volume" }
    $made = (Get-Volume -DriveLetter $letter).FileSystem
    Write-Host "made $($letter): as $made"
    "$($volume.Name)=$($letter):" | Out-File -FilePath $env:GITHUB_OUTPUT -Append -Encoding utf8
}

#!/bin/sh
# Builds one test MSI package with wixl (run on the build host):
#   make-msi.sh OUT NAME MANUFACTURER VERSION ARCH UPGRADE_CODE PRODUCT_CODE FILE...
# ARCH is x86 or x64. The package installs per machine into
# <ProgramFiles>\NAME\ every FILE (each holding its own name) and the value
# HKLM\SOFTWARE\MANUFACTURER\NAME "Version" = VERSION, in the 64-bit places
# for x64. Names are plain text (no XML markup characters).
set -eu
[ $# -ge 8 ] || { echo "usage: $0 OUT NAME MANUFACTURER VERSION ARCH UPGRADE_CODE PRODUCT_CODE FILE..." >&2; exit 2; }
out=$1 name=$2 manufacturer=$3 version=$4 arch=$5 upgrade=$6 product=$7
shift 7
case $arch in
  x86) folder=ProgramFilesFolder win64=no ;;
  x64) folder=ProgramFiles64Folder win64=yes ;;
  *) echo "$0: ARCH must be x86 or x64" >&2; exit 2 ;;
esac
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
files=
n=0
for file in "$@"; do
  n=$((n + 1))
  printf '%s\n' "$file" >"$work/$file"
  keypath=no
  [ $n -eq 1 ] && keypath=yes
  files="$files            <File Id=\"File$n\" Name=\"$file\" Source=\"$file\" KeyPath=\"$keypath\"/>
"
done
cat >"$work/package.wxs" <<WXS
<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="$product" Name="$name" Language="1033" Version="$version" Manufacturer="$manufacturer"
           UpgradeCode="$upgrade">
    <Package InstallerVersion="200" Compressed="yes" InstallScope="perMachine"/>
    <Media Id="1" Cabinet="package.cab" EmbedCab="yes"/>
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="$folder">
        <Directory Id="INSTALLDIR" Name="$name">
          <Component Id="Main" Guid="*" Win64="$win64">
$files            <RegistryValue Root="HKLM" Key="SOFTWARE\\$manufacturer\\$name" Name="Version" Type="string"
                           Value="$version"/>
          </Component>
        </Directory>
      </Directory>
    </Directory>
    <Feature Id="Complete" Level="1"><ComponentRef Id="Main"/></Feature>
  </Product>
</Wix>
WXS
# wixl takes the file sources relative to the current folder.
case $out in /*) ;; *) out=$(pwd)/$out ;; esac
(cd "$work" && wixl -a "$arch" -o "$out.tmp" package.wxs)
mv "$out.tmp" "$out"

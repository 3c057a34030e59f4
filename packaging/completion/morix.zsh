#compdef morix
# zsh completion of morix, the Trelvo Renamer.
# A new option gets one line in the list below; one with fixed values names
# them in its action, as --case and --sort do.

_arguments -s -S \
  '(- *)'{-h,--help}'[print the usage]' \
  '(- *)--version[print the version]' \
  '(- *)--install=-[register with the desktop and tell the version service]::suffix:' \
  '(- *)--uninstall[close the renamer and remove its registration]' \
  '(- *)--exit[close the renamer and its notice]' \
  '(--rename --recover)--preview[print the new names]' \
  '(--preview --recover)--rename[rename the files]' \
  '(--preview --rename)--recover[put back files of runs cut short]' \
  '(- *)--undo=-[take back the most recent rename, or the one with this id]::id:' \
  '(- *)--history[list the renames kept for undo]' \
  '(-t --template)'{-t+,--template=}'[name template]:template:' \
  '--start=[first sequence number]:number (1 to 99999999):' \
  '--step=[added to the number per row]:number (1 to 99999999):' \
  '--ext=[replace every extension]:extension:' \
  '--case=[case change]:mode:(none upper lower name-upper name-lower ext-upper ext-lower first-upper)' \
  '--find=[text to find in the new names]:text:' \
  '--replace=[its replacement]:text:' \
  '--case-sensitive[find matches letter case exactly]' \
  '--regex[find is a regular expression]' \
  '--no-normalize[do not bring names to Unicode NFC]' \
  '--sort=[sort key]:key:(name ext mtime size none)' \
  '--descending[reverse the sort]' \
  '--date-source=[the date of the date fields and the time sort]:source:(modified taken)' \
  '--preset=[start from a saved preset]:preset name:' \
  '*'{-d+,--dir=}'[add the files directly inside a folder]:folder:_files -/' \
  '(-0 --null)'{-0,--null}'[end fields with NUL]' \
  '--check[with --preview, exit 3 on conflicts and impossible names]' \
  '--verbose[with --preview, add each row state; with --rename, print each renamed file]' \
  '*:path:_files'

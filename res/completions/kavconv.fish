# fish completion for kavconv(1)

set -l commands convert info render thumbnail

complete -c kavconv -f
complete -c kavconv -n "not __fish_seen_subcommand_from $commands" -s h -l help -d 'Print help and exit'
complete -c kavconv -n "not __fish_seen_subcommand_from $commands" -l version -d 'Print the version and exit'
complete -c kavconv -n "not __fish_seen_subcommand_from $commands" -a convert -d 'Convert BMP, PNG, GIF and Aseprite images to MZR, RLE or RLS files'
complete -c kavconv -n "not __fish_seen_subcommand_from $commands" -a info -d 'Check converted files and print their headers'
complete -c kavconv -n "not __fish_seen_subcommand_from $commands" -a render -d 'Draw a converted file as a PNG'
complete -c kavconv -n "not __fish_seen_subcommand_from $commands" -a thumbnail -d 'Draw a converted file scaled to fit a square as a PNG'

# convert
set -l convert "__fish_seen_subcommand_from convert"
complete -c kavconv -n $convert -s f -l format -x -a 'mzr rle rls' -d 'Output format'
complete -c kavconv -n $convert -l start -x -d 'MZR start colour (0-255)'
complete -c kavconv -n $convert -l end -x -d 'MZR end colour (0-255)'
complete -c kavconv -n $convert -l transparent -x -d 'MZR transparent colour (0-255)'
complete -c kavconv -n $convert -l no-remapping -d 'Clear the MZR remapping flag'
complete -c kavconv -n $convert -l frame -x -d 'Convert only this frame of a GIF or Aseprite file'
complete -c kavconv -n $convert -l alpha-threshold -x -d 'A pixel whose alpha is below N is transparent (1-255)'
complete -c kavconv -n $convert -l keep-indices -d 'Keep a palette picture\'s indices as stored'
complete -c kavconv -n $convert -l palette -r -F -d 'Give every output this palette (.gpl .pal .act .hex or a palette picture)'
complete -c kavconv -n $convert -l dither -x -a 'none ordered diffusion' -d 'How colours go onto a fixed or reduced palette'
complete -c kavconv -n $convert -l no-reduce -d 'Refuse a picture with more colours than the format holds'
complete -c kavconv -n $convert -s j -l jobs -x -d 'Files converted at once'
complete -c kavconv -n $convert -l memory-limit -x -d 'Memory for the pictures of all files converted at once'
complete -c kavconv -n $convert -l fail-fast -d 'Start no new file after a failure'
complete -c kavconv -n $convert -s q -l quiet -d 'Print no status lines and no progress'
complete -c kavconv -n $convert -s o -l output -r -F -d 'The output file'
complete -c kavconv -n $convert -l output-dir -x -a '(__fish_complete_directories)' -d 'The folder the outputs go to'
complete -c kavconv -n $convert -s u -l update -d 'Convert only files newer than their outputs'
complete -c kavconv -n $convert -l emit -x -a 'binary c both' -d 'What to write'
complete -c kavconv -n $convert -l c-name -x -d 'The name of the C array'
complete -c kavconv -n $convert -l c-prefix -x -d 'Put P in front of every C name'
complete -c kavconv -n $convert -l watch -d 'Convert files again whenever they change'
complete -c kavconv -n $convert -s h -l help -d 'Print help and exit'
complete -c kavconv -n $convert -a '(__fish_complete_suffix .bmp; __fish_complete_suffix .BMP; __fish_complete_suffix .dib; __fish_complete_suffix .DIB; __fish_complete_suffix .png; __fish_complete_suffix .PNG; __fish_complete_suffix .gif; __fish_complete_suffix .GIF; __fish_complete_suffix .ase; __fish_complete_suffix .ASE; __fish_complete_suffix .aseprite; __fish_complete_suffix .Aseprite)'

# info
set -l info "__fish_seen_subcommand_from info"
complete -c kavconv -n $info -l json -d 'Print one JSON object per file'
complete -c kavconv -n $info -s h -l help -d 'Print help and exit'
complete -c kavconv -n $info -a '(__fish_complete_suffix .MZR; __fish_complete_suffix .RLE; __fish_complete_suffix .mzr; __fish_complete_suffix .rle)'

# render
set -l render "__fish_seen_subcommand_from render"
complete -c kavconv -n $render -s o -l output -r -a '(__fish_complete_suffix .png)' -d 'The PNG file to write, - for standard output'
complete -c kavconv -n $render -l table -x -d 'The colour table to draw through'
complete -c kavconv -n $render -l sheet -d 'Draw every table on one contact sheet'
complete -c kavconv -n $render -s h -l help -d 'Print help and exit'
complete -c kavconv -n $render -a '(__fish_complete_suffix .MZR; __fish_complete_suffix .RLE; __fish_complete_suffix .mzr; __fish_complete_suffix .rle)'

# thumbnail
set -l thumbnail "__fish_seen_subcommand_from thumbnail"
complete -c kavconv -n $thumbnail -s s -l size -x -d 'The longer side of the thumbnail (1-65535)'
complete -c kavconv -n $thumbnail -s h -l help -d 'Print help and exit'
complete -c kavconv -n $thumbnail -a '(__fish_complete_suffix .MZR; __fish_complete_suffix .RLE; __fish_complete_suffix .mzr; __fish_complete_suffix .rle; __fish_complete_suffix .png)'

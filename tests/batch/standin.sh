#!/bin/sh
# Stand-in for one tool slot. It records its arguments, one bracketed word each, in
# $STANDIN_DIR/calls.log, lets $STANDIN_DIR/<slot>.sh adjust what it does, then prints what the
# real tool would print, writes the file its command line names and exits.
name=$(basename "$0")
dir=${STANDIN_DIR:?}
{
    printf '%s' "$name"
    for a in "$@"; do printf ' [%s]' "$a"; done
    printf '\n'
} >>"$dir/calls.log"

out=""
prev=""
for a in "$@"; do
    case "$name:$prev" in
        mencoder.exe:-o | MP4Box.exe:-new | mkvmerge.exe:-o) out=$a ;;
    esac
    case "$name:$a" in
        mplayer.exe:pcm:*file=*)
            f=${a#*file=%}
            out=${f#*%}
            ;;
    esac
    prev=$a
done
[ "$name" = enhAacPlusEnc.exe ] && out=$2

code=0
delay=0
write=1
video_line='VIDEO:  [FMP4]  320x240  24bpp  25.000 fps  327.7 kbps (40.0 kbyte/s)'
audio_line='AUDIO: 44100 Hz, 2 ch, s16le, 1411.2 kbit/100.00% (ratio: 176400->176400)'
progress='Pos:   1.0s     25f (100%)  encoded frames: 25 fps'
if [ -f "$dir/$name.sh" ]; then
    . "$dir/$name.sh"
fi

if [ "$name" = mencoder.exe ]; then
    case "$*" in
        *pass=1*)
            [ -n "$video_line" ] && printf '%s\n' "$video_line"
            [ -n "$audio_line" ] && printf '%s\n' "$audio_line"
            ;;
    esac
fi
[ -n "$progress" ] && printf '%s\n' "$progress"
[ "$delay" != 0 ] && sleep "$delay"
if [ "$write" = 1 ] && [ -n "$out" ]; then
    printf '%s\n' "$name" >"$out"
fi
exit "$code"

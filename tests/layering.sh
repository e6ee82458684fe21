#!/bin/sh
# The build targets are layered: a file includes headers of its own target
# or of a lower one, never of a peer or of one above it. Prints each include
# that breaks this and fails when there is one.
#   platform < guard < trace < text < detect, msitool, restore < engine < app
# (the tests' support sits below app and includes no removal step).
cd "$(dirname "$0")/.." || exit 2

target() {
    case "$1" in
        platform/*) echo platform ;;
        guard/*) echo guard ;;
        trace/*) echo trace ;;
        profile/tset.* | profile/entry_text.*) echo text ;;
        detect/*) echo detect ;;
        msitool/*) echo msitool ;;
        restore/*) echo restore ;;
        profile/* | actions/*) echo engine ;;
        app/*) echo app ;;
        lsputil/*) echo lsputil ;;
        tests/support/*) echo support ;;
        *) echo unknown ;;
    esac
}

rank() {
    case "$1" in
        platform) echo 0 ;;
        guard) echo 1 ;;
        trace) echo 2 ;;
        text) echo 3 ;;
        detect | msitool | restore) echo 4 ;;
        engine) echo 5 ;;
        support) echo 6 ;;  # the tests' support: above the engine, below the program
        app) echo 7 ;;
        *) echo 99 ;;
    esac
}

# Inside the program one direction too: the entry, the application, the
# dialogs and the preview report, the run, the session. A file includes its
# own header and those of lower files only.
#   session, run_result, resource < run < dialogs, preview_report < app < program < main
app_rank() {
    case "${1##*/}" in
        session.* | run_result.* | resource.h) echo 0 ;;
        run.*) echo 1 ;;
        dialogs.* | preview_report.*) echo 2 ;;
        app.*) echo 3 ;;
        program.*) echo 4 ;;
        main.*) echo 5 ;;
        *) echo 99 ;;
    esac
}

broken=0
for file in platform/* guard/* trace/* profile/* detect/* msitool/* restore/* actions/* app/* lsputil/* \
    tests/support/*; do
    case "$file" in *.cpp | *.h) ;; *) continue ;; esac
    own=$(target "$file")
    for header in $(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$file"); do
        case "$header" in */*) ;; *) header="${file%/*}/$header" ;; esac  # beside the file
        other=$(target "$header")
        # The tests' support reaches the engine through its header, never a step.
        if [ "$own" = support ] && [ "${header#actions/}" != "$header" ]; then
            echo "$file (support) includes $header (a removal step)"
            broken=1
            continue
        fi
        if [ "$own" = app ] && [ "$other" = app ]; then
            [ "${header%.*}" = "${file%.*}" ] && continue  # its own header
            if [ "$(app_rank "$header")" -ge "$(app_rank "$file")" ]; then
                echo "$file includes $header (the same level of the program, or a higher one)"
                broken=1
            fi
            continue
        fi
        [ "$other" = "$own" ] && continue
        if [ "$own" = lsputil ] || [ "$other" = unknown ] || [ "$(rank "$other")" -ge "$(rank "$own")" ]; then
            echo "$file ($own) includes $header ($other)"
            broken=1
        fi
    done
done
exit $broken

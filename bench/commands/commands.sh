# The commands of the command benchmarks as a user runs them: korvane with a
# form script in a fresh folder of its own (sourced by run.sh and
# identical.sh; needs $cache). Each folder gets a map document with the
# command's layers and an empty out/; the layers a command changes (the
# vector ones add Area and Perimeter) are copied in first, untimed.
#   prepare ROW DIR     makes DIR ready for ROW
#   command ROW BIN DIR prints the korvane command line of ROW
rows_all="patch clip combine regions10 regions999 regions-vector spatial-stats"
here=$(cd "$(dirname "${BASH_SOURCE[0]:-$0}")" && pwd)
prepare() {  # row dir korvane
    row=$1 dir=$2 kv=$3
    rm -rf "$dir"
    mkdir -p "$dir/out"
    (
        cd "$dir"
        add() { "$kv" -q add "$1" >/dev/null; }
        case $row in
            patch) add "$cache/classes10k.tif"; "$kv" -q toc classes10k.tif >/dev/null ;;
            clip) add "$cache/classes10k.tif"; add "$cache/clip.shp" ;;
            combine) add "$cache/classes10k.tif"; add "$cache/standage10k.tif" ;;
            regions10|regions999) add "$cache/clustered4000.tif"; add "$cache/${row}.shp" ;;
            regions-vector|spatial-stats)
                for e in shp shx dbf prj; do cp "$cache/grid1m.$e" "$dir/grid1m.$e"; done
                add "$dir/grid1m.shp" ;;
        esac
    )
}
caption() {
    case $1 in
        patch) echo "Create Patch Theme from Grid" ;;
        clip) echo "Clip Grids to Polygon Theme" ;;
        combine) echo "Intersect (Combine) Grids" ;;
        regions10|regions999) echo "Spatial Statistics (by Regions)" ;;
        regions-vector) echo "Analysis by Regions" ;;
        spatial-stats) echo "Spatial Statistics" ;;
    esac
}
script() {
    case $1 in
        regions10) echo "$here/region-stats-10.kvs" ;;
        regions999) echo "$here/region-stats-999.kvs" ;;
        *) echo "$here/$1.kvs" ;;
    esac
}

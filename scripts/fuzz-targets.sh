# The fuzz targets, their seeds and dictionaries; sourced by fuzz-smoke.sh and fuzz-long.sh
# from the repository's top folder.
#   main_inp, coag_inp, grow_inp   the input files' readers (fuzz/numbers.dict)
#   case_file                      the case-file reader of `aerosol simulate` (fuzz/case_file.dict)
# Seeds: fuzz/corpus/<reader>/, inputs that once broke a reader in fuzz/regressions/<reader>/,
# and for case_file every TOML file under examples/.
fuzz_readers=(main_inp coag_inp grow_inp case_file)

fuzz_dict() {  # reader
  if [ "$1" = case_file ]; then echo fuzz/case_file.dict; else echo fuzz/numbers.dict; fi
}

# The seed folders of a reader, one a line; the examples are copied into <scratch>/examples
# (flat, so that files of the same name in two folders both stay).
fuzz_seeds() {  # reader scratch
  local reader=$1 scratch=$2 file
  echo "fuzz/corpus/$reader"
  [ -d "fuzz/regressions/$reader" ] && echo "fuzz/regressions/$reader"
  if [ "$reader" = case_file ]; then
    rm -rf "$scratch/examples"
    mkdir -p "$scratch/examples"
    while IFS= read -r file; do
      cp "$file" "$scratch/examples/$(echo "${file#examples/}" | tr / -)"
    done < <(find examples -name '*.toml' | sort)
    echo "$scratch/examples"
  fi
  return 0
}

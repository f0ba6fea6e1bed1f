# Text handling with set-up and clean-up: init prepares a file, main reads it, cleanup removes it.

proc init {} {
    set ::dataFile [file join [file dirname $::argv0] people.txt]
    set ch [open $::dataFile w]
    fconfigure $ch -encoding utf-8
    puts $ch "Ada Lovelace\nAlan Turing\nGrace Hopper\nJürgen Müller"
    close $ch
}

proc main {} {
    set ch [open $::dataFile r]
    fconfigure $ch -encoding utf-8
    set names [split [string trim [read $ch]] \n]
    close $ch

    test compare [llength $names] 4 "number of names"
    test compare [lsort [lmap n $names {lindex $n end}]] {Hopper Lovelace Müller Turing} "sorted last names"
    test compare [string toupper [lindex $names 3]] "JÜRGEN MÜLLER" "upper case"
    puts "read [llength $names] names"
}

proc cleanup {} {
    file delete $::dataFile
}

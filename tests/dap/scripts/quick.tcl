# A run that passes at once, with output on stdout and stderr, its own and a child process's.
proc main {} {
    puts "to stdout"
    puts stderr "to stderr"
    test verify 1 "it holds"
    test compare [gets stdin] "" "stdin reads nothing"
    exec sh -c {echo "from a child"} >@ stdout
}

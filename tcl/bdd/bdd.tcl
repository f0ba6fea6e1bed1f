# BDD support for Tcl test scripts: step definitions (Given, When, Then, Step), hooks (OnFeatureStart ...
# OnStepEnd), loading step definition files, and the commands the Tcl back end calls while it runs a
# feature file (Tarvin::BDD::get_execute_step_cmd, get_matching_step_defs, get_registered_step_patterns).
#
# A step definition:
#     Given "the address book has |integer| entries" {count} { ... }
#     When -rx {^I add (\w+) (\w+)$} {first last} { ... }
# Placeholders: |integer| (an optional sign and digits), |word| (no blanks), |any| (anything, at least one
# character). With -rx the pattern is a regular expression whose groups give the arguments. A step's doc
# string (its lines joined with line feeds) and its table (a list of rows, each a list of cells) follow
# the placeholder values as further arguments; the doc string's content type (what follows its opening
# fence, as in ```json) is in the variable Tarvin::BDD::doc_string_type while the step runs, empty when
# there is none. A definition that returns the word AbortScenario ends its scenario without failing it.

package provide tarvin::bdd 1.0

namespace eval ::Tarvin::BDD {
    # One record per definition: keyword, pattern, regular expression, procedure, file, line.
    variable definitions {}
    # Where to look for a step text's definitions: the words a definition's pattern begins with (up to
    # its last blank before the first placeholder) -> positions in definitions; "" for the rest
    # (patterns that begin with a placeholder, regular expressions). Built when first needed.
    variable index {}
    variable indexed 0
    variable nextId 0
    variable context_user_data {}
    variable doc_string_type {}
    # Where each hook is defined: hook procedure -> {file line}.
    variable hook_positions
    array set hook_positions {}
    foreach kind {Feature Scenario Step} {
        foreach phase {Start End} {
            variable On${kind}${phase}Hooks {}
        }
    }
    namespace eval Steps {}
    namespace eval Hooks {}
}

# Where the command that called the caller of this procedure stands: {file line}, or {{} 0} when the
# script was not loaded through source.
proc ::Tarvin::BDD::callerPosition {} {
    if {[catch {test stackTrace 2 1} stack] || [llength $stack] == 0} {
        return [list {} 0]
    }
    return [lindex $stack 0]
}

proc ::Tarvin::BDD::patternToRegexp {pattern} {
    set expressions {integer {([-+]?[0-9]+)} word {(\S+)} any {(.+)}}
    set re ""
    set start 0
    foreach {whole name} [regexp -all -inline -indices {\|(integer|word|any)\|} $pattern] {
        lassign $whole from to
        append re [regsub -all {[][{}()*+?.\\^$|]} [string range $pattern $start [expr {$from - 1}]] {\\&}]
        append re [dict get $expressions [string range $pattern {*}$name]]
        set start [expr {$to + 1}]
    }
    append re [regsub -all {[][{}()*+?.\\^$|]} [string range $pattern $start end] {\\&}]
    return "^$re\$"
}

# (Procedures here end with return: the debugger's frame of a procedure is popped there.)

# Registers a definition; a second definition of the same keyword and pattern is an error naming both.
proc ::Tarvin::BDD::define {keyword where arguments} {
    variable definitions
    variable nextId
    set usage "$keyword ?-rx? pattern parameters body"
    if {[llength $arguments] == 4 && [lindex $arguments 0] eq "-rx"} {
        lassign $arguments -> pattern parameters body
        set re "^(?:$pattern)\$"
    } elseif {[llength $arguments] == 3} {
        lassign $arguments pattern parameters body
        set re [patternToRegexp $pattern]
    } else {
        return -code error "wrong # args: should be \"$usage\""
    }
    if {[catch {regexp -about -- $re} about]} {
        return -code error "invalid step pattern '$pattern' at [join $where :]: $about"
    }
    foreach definition $definitions {
        if {[lindex $definition 0] eq $keyword && [lindex $definition 1] eq $pattern} {
            return -code error "the step $keyword \"$pattern\" at [join $where :] is defined already at\
                [join [lrange $definition 4 5] :]"
        }
    }
    set name ::Tarvin::BDD::Steps::step[incr nextId]
    proc $name $parameters $body
    lappend definitions [list $keyword $pattern $re $name {*}$where]
    variable indexed 0
    return
}

# The index key of a pattern: the words before its first placeholder, without the last, partial one.
proc ::Tarvin::BDD::indexKey {pattern isRegexp} {
    if {$isRegexp} {
        return ""
    }
    set literal $pattern
    if {[regexp -indices {\|(integer|word|any)\|} $pattern where]} {
        set literal [string range $pattern 0 [expr {[lindex $where 0] - 1}]]
    }
    set blank [string last " " $literal]
    if {$blank < 0} {
        return ""
    }
    return [string range $literal 0 [expr {$blank - 1}]]
}

proc ::Tarvin::BDD::buildIndex {} {
    variable definitions
    variable index
    variable indexed
    set index [dict create]
    set position 0
    foreach definition $definitions {
        lassign $definition defKeyword pattern re
        dict lappend index [indexKey $pattern [expr {$re ne [patternToRegexp $pattern]}]] $position
        incr position
    }
    set indexed 1
    return
}

# A definition that cannot be registered is an error at its own line in the step file: the error is
# caught and returned here, which pops this procedure's debugger frame.
proc ::Step {args} {
    if {[catch {::Tarvin::BDD::define Step [::Tarvin::BDD::callerPosition] $args} message]} {
        return -code error $message
    }
    return
}
proc ::Given {args} {
    if {[catch {::Tarvin::BDD::define Given [::Tarvin::BDD::callerPosition] $args} message]} {
        return -code error $message
    }
    return
}
proc ::When {args} {
    if {[catch {::Tarvin::BDD::define When [::Tarvin::BDD::callerPosition] $args} message]} {
        return -code error $message
    }
    return
}
proc ::Then {args} {
    if {[catch {::Tarvin::BDD::define Then [::Tarvin::BDD::callerPosition] $args} message]} {
        return -code error $message
    }
    return
}

# Hooks: OnScenarioStart {context} {body}. Each hook gets the name of the context procedure, which
# answers `title` (features, scenarios) or `text` (steps) and reads or writes `userData`. Where a hook is
# defined is noted for the reports.
proc ::Tarvin::BDD::addHook {moment where parameters body} {
    set name ::Tarvin::BDD::Hooks::hook[incr ::Tarvin::BDD::nextId]
    set ::Tarvin::BDD::hook_positions($name) $where
    proc $name $parameters $body
    lappend ::Tarvin::BDD::On${moment}Hooks $name
    return
}
proc ::OnFeatureStart {parameters body} {
    ::Tarvin::BDD::addHook FeatureStart [::Tarvin::BDD::callerPosition] $parameters $body
    return
}
proc ::OnFeatureEnd {parameters body} {
    ::Tarvin::BDD::addHook FeatureEnd [::Tarvin::BDD::callerPosition] $parameters $body
    return
}
proc ::OnScenarioStart {parameters body} {
    ::Tarvin::BDD::addHook ScenarioStart [::Tarvin::BDD::callerPosition] $parameters $body
    return
}
proc ::OnScenarioEnd {parameters body} {
    ::Tarvin::BDD::addHook ScenarioEnd [::Tarvin::BDD::callerPosition] $parameters $body
    return
}
proc ::OnStepStart {parameters body} {
    ::Tarvin::BDD::addHook StepStart [::Tarvin::BDD::callerPosition] $parameters $body
    return
}
proc ::OnStepEnd {parameters body} {
    ::Tarvin::BDD::addHook StepEnd [::Tarvin::BDD::callerPosition] $parameters $body
    return
}

# The definitions that match a step text for a keyword: Step definitions match every keyword, the
# others their own (and steps without a keyword). Each match: {record {values...}}.
proc ::Tarvin::BDD::matching {text keyword} {
    variable definitions
    variable index
    variable indexed
    if {!$indexed} {
        buildIndex
    }
    # The candidates: definitions keyed by a run of the text's first words, and those without a key.
    set candidates [expr {[dict exists $index ""] ? [dict get $index ""] : {}}]
    set from 0
    while {[set blank [string first " " $text $from]] >= 0} {
        set words [string range $text 0 [expr {$blank - 1}]]
        if {[dict exists $index $words]} {
            lappend candidates {*}[dict get $index $words]
        }
        set from [expr {$blank + 1}]
    }
    if {[dict exists $index $text]} {
        lappend candidates {*}[dict get $index $text]
    }
    set matches {}
    foreach position [lsort -integer -unique $candidates] {
        set definition [lindex $definitions $position]
        if {[llength $definition] == 0} {
            continue
        }
        lassign $definition defKeyword pattern re
        if {$defKeyword ne "Step" && $keyword ne "" && $defKeyword ne $keyword} {
            continue
        }
        set groups [regexp -inline -- $re $text]
        if {[llength $groups] > 0} {
            lappend matches [list $definition [lrange $groups 1 end]]
        }
    }
    return $matches
}

# How many words a procedure takes: {minimum maximum}; a maximum of -1 means any number.
proc ::Tarvin::BDD::arity {name} {
    set minimum 0
    set maximum 0
    foreach parameter [info args $name] {
        if {$parameter eq "args"} {
            return [list $minimum -1]
        }
        incr maximum
        if {![info default $name $parameter -]} {
            incr minimum
        }
    }
    return [list $minimum $maximum]
}

# Called by the back end for each step. Answers {where {command word...}}; fails with errorCode 3 when
# no definition matches, 4 when several do (the message lists them) and 1 when the definition cannot take
# what the step gives.
proc ::Tarvin::BDD::get_execute_step_cmd {text multiLineText table keyword} {
    set matches [matching $text $keyword]
    if {[llength $matches] == 0} {
        return -code error -errorcode 3 ""
    }
    if {[llength $matches] > 1} {
        set lines {}
        foreach match $matches {
            lassign [lindex $match 0] defKeyword pattern re name file line
            lappend lines "$file:$line: $defKeyword \"$pattern\""
        }
        return -code error -errorcode 4 "[llength $matches] step definitions match:\n[join $lines \n]"
    }
    lassign [lindex $matches 0] definition words
    lassign $definition defKeyword pattern re name file line
    set given "[llength $words] from the pattern"
    if {[llength $multiLineText] > 0} {
        lappend words [join $multiLineText \n]
        append given ", a doc string"
    }
    if {[llength $table] > 0} {
        lappend words $table
        append given ", a table"
    }
    lassign [arity $name] minimum maximum
    set count [llength $words]
    if {$count < $minimum || ($maximum >= 0 && $count > $maximum)} {
        return -code error -errorcode 1 "the step definition at $file:$line ($defKeyword \"$pattern\") takes\
            the parameters {[info args $name]} but the step gives $count values ($given)"
    }
    return [list "$file:$line" [list $name {*}$words]]
}

# Where the definitions matching a step are: {{file line} ...}.
proc ::Tarvin::BDD::get_matching_step_defs {text keyword} {
    set result {}
    foreach match [matching $text $keyword] {
        lappend result [lrange [lindex $match 0] 4 5]
    }
    return $result
}

# The patterns that steps with this keyword can match, in definition order.
proc ::Tarvin::BDD::get_registered_step_patterns {keyword} {
    variable definitions
    set result {}
    foreach definition $definitions {
        set defKeyword [lindex $definition 0]
        if {$defKeyword eq "Step" || $keyword eq "" || $defKeyword eq $keyword} {
            lappend result [lindex $definition 1]
        }
    }
    return $result
}

# Loads every .tcl file of the given directories, in name order. Without directories: the test case's
# steps/ and the suite's shared/steps/, where they exist.
proc ::collectStepDefinitions {args} {
    set directories $args
    if {[llength $args] == 0} {
        set case [file dirname [file normalize $::argv0]]
        foreach directory [list [file join $case steps] [file join [file dirname $case] shared steps]] {
            if {[file isdirectory $directory]} {
                lappend directories $directory
            }
        }
    }
    set loaded {}
    foreach directory $directories {
        if {![file isdirectory $directory]} {
            return -code error "collectStepDefinitions: '$directory' is not a directory"
        }
        foreach file [lsort [glob -nocomplain -type f -directory $directory *.tcl]] {
            uplevel #0 [list source [file normalize $file]]
            lappend loaded [file normalize $file]
        }
    }
    return $loaded
}

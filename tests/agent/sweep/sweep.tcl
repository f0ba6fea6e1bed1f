# Drives one program through the agent the way a curious tester would: waits for its first window,
# walks every object, reads every property (and the members of value objects such as QRect or QFont),
# the items of views, combo boxes and menus, gives it a little harmless input, takes a screenshot and
# closes it. Sourced by the test cases run-sweep.sh generates, which call sweep::run PROGRAM.
#
# Outcomes: PASSED when everything answered; SKIPPED when the program cannot be driven (not a Widgets
# program, needs arguments, ends at once), with the runner's message as the reason; FAILED with one
# failure per request that went wrong, naming the object and what was asked.

namespace eval sweep {
    variable maxObjects 3000
    variable ended ""
    variable objects 0
    variable reads 0
    variable problems 0
}

proc sweep::problem {what message} {
    variable problems
    incr problems
    test fail $what $message
}

# The class of an object, from its real name ({type CLASS ...}).
proc sweep::classOf {object} {
    if {[catch {toString $object} name] || [catch {dict get $name type} cls]} {
        return ?
    }
    return $cls
}

proc sweep::describe {object} {
    if {[catch {toString $object} name]} {
        return "<$name>"
    }
    return $name
}

proc sweep::isHandle {value} {
    return [regexp {^Object:0x[0-9a-f]+$} $value]
}

proc sweep::readProperties {object {depth 0}} {
    variable reads
    if {[catch {property list $object} names]} {
        problem "property list [describe $object]" $names
        return
    }
    foreach name $names {
        incr reads
        if {[catch {property get $object $name} value]} {
            problem "property get {[describe $object]} $name" $value
        } elseif {$depth == 0 && [isHandle $value]} {
            # A value class (QRect, QFont, QPalette...): its own members once.
            if {[catch {property list $value} members]} {
                problem "property list of {[describe $object]} $name" $members
                continue
            }
            foreach member $members {
                incr reads
                if {[catch {property get $value $member} message]} {
                    problem "property get {[describe $object]} $name.$member" $message
                }
            }
        }
    }
    if {$depth == 0 && [catch {object properties $object values} message]} {
        problem "object properties {[describe $object]}" $message
    }
}

proc sweep::walk {object} {
    variable objects
    variable maxObjects
    if {[incr objects] > $maxObjects} {
        return
    }
    readProperties $object
    if {[catch {object children $object} children]} {
        problem "object children {[describe $object]}" $children
        return
    }
    foreach child $children {
        walk $child
    }
}

proc sweep::call {object args} {
    if {[catch {invoke $object {*}$args} result]} {
        problem "invoke {[describe $object]} $args" $result
        return ""
    }
    return $result
}

proc sweep::all {type} {
    if {[catch {findAllObjects [list type $type]} found]} {
        problem "findAllObjects {type $type}" $found
        return {}
    }
    return $found
}

proc sweep::readItems {} {
    foreach view [all QAbstractItemView] {
        foreach method {rowCount columnCount currentRow currentColumn currentText selectedTexts} {
            call $view $method
        }
        set rows [call $view rowCount]
        if {![string is integer -strict $rows] || $rows == 0} {
            continue
        }
        for {set row 0} {$row < min($rows, 5)} {incr row} {
            call $view rowTexts $row
        }
        call $view headerText 0
        set text [call $view cellText 0 0]
        # Items are ready where they are shown: in a visible view, not in a header.
        if {$text ne "" && [classOf $view] ne "QHeaderView"
            && ![catch {property get $view visible} visible] && $visible} {
            if {[catch {waitForObjectItem $view $text 2000} item]} {
                problem "waitForObjectItem {[describe $view]} {$text}" $item
            } else {
                readProperties $item 1
            }
        }
        # A header offers no items: the cells are those of the view it heads.
        set name [list type ModelItem container [describe $view] row 0 column 0]
        set expected [expr {[classOf $view] eq "QHeaderView" ? 0 : 1}]
        if {[catch {findAllObjects $name} items] || [llength $items] != $expected} {
            problem "findAllObjects {$name}" $items
        }
    }
    foreach combo [all QComboBox] {
        set texts [call $combo itemTexts]
        if {[llength $texts] > 0} {
            call $combo itemText 0
            call $combo findText [lindex $texts 0]
        }
    }
    foreach menu [concat [all QMenu] [all QMenuBar]] {
        call $menu actionTexts
    }
    foreach bar [all QStatusBar] {
        call $bar currentMessage
    }
}

# The first visible top-level widget, or "" while there is none.
proc sweep::visibleWindow {} {
    variable ended
    if {[catch {object topLevelObjects} tops]} {
        set ended $tops
        return ended
    }
    foreach top $tops {
        if {![catch {property get $top visible} visible] && $visible} {
            return $top
        }
    }
    return ""
}

proc sweep::run {program args} {
    variable objects
    variable reads
    variable problems
    set name [file tail $program]
    if {[catch {startApplication [join [concat [list $program] $args]]} context]} {
        test skip "$name was not driven" $context
    }
    waitFor {[sweep::visibleWindow] ne ""} 10000
    set window [visibleWindow]
    if {$window eq "ended"} {
        test skip "$name ended without a window" $sweep::ended
    }
    if {$window eq ""} {
        test skip "$name shows no window" "[llength [object topLevelObjects]] top-level objects, none visible"
    }
    test log "window: [describe $window]"

    foreach top [object topLevelObjects] {
        walk $top
    }
    readItems
    test log "$objects objects, $reads properties read"

    # A little input: a click in the middle of the window, text into the first line edit, a key.
    if {[catch {mouseClick $window} message]} {
        problem "mouseClick {[describe $window]}" $message
    }
    # The click may have hit a Quit button: an application that ended by itself is no fault.
    if {![applicationContext $context isRunning]} {
        test pass "$name ended after the click: [applicationContext $context exitStatus]"
        return
    }
    set edits [all QLineEdit]
    foreach edit $edits {
        if {![catch {property get $edit visible} visible] && $visible
            && ![catch {property get $edit enabled} enabled] && $enabled
            && ![catch {property get $edit readOnly} readOnly] && !$readOnly} {
            if {[catch {typeText $edit "Sweep 42"} message]} {
                problem "typeText {[describe $edit]}" $message
            }
            break
        }
    }
    if {[applicationContext $context isRunning]} {
        if {[catch {keyClick Tab} message]} {
            problem "keyClick Tab" $message
        }
    }

    if {[applicationContext $context isRunning]} {
        set window [visibleWindow]
        if {$window ne ""} {
            set file [file join [OS getenv TMPDIR /tmp] sweep-[pid]-$name.png]
            if {[catch {object grabScreenshot $window $file} message]} {
                if {[string match "*has no picture: the platform keeps none*" $message]} {
                    # OpenGL windows on the offscreen platform: a known limit, reported clearly.
                    test warning "object grabScreenshot {[describe $window]}" $message
                } else {
                        problem "object grabScreenshot {[describe $window]}" $message
                }
            } elseif {![file exists $file] || [file size $file] == 0} {
                problem "object grabScreenshot {[describe $window]}" "no picture in $file"
            } else {
                file delete $file
            }
            if {[catch {closeWindow $window} message]} {
                problem "closeWindow {[describe $window]}" $message
            }
        }
    }
    if {$problems == 0} {
        test pass "$name: $objects objects, $reads properties"
    }
}

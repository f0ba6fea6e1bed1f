# tarvin::objectmaphelper: what the suite's object map (names.tcl) and the object map reader rely on.
#
#   ::Tarvin::ObjectName key value ?key value ...?
#   ::Tarvin::ObjectName name
#       An object map object for a real name given as property/value pairs, or as one name text
#       (empty: no name). The result is the name of a command,
#       ::ObjectMapHelper::object_map_helper_object_N, that answers the real name text when called
#       without arguments. Values that are object map objects themselves (container $Main) stand for
#       their real names. The same definition gives the same command, so sourcing names.tcl again
#       makes no new ones.
#
#   ::ObjectMapHelper::entries NAMESPACE
#       A dict of the scalar variables of the fully qualified NAMESPACE: the variable's name without
#       the namespace -> its value, in name order.
#
#   ::ObjectMapHelper::realName VALUE
#       The real name text of VALUE: an object map object's text, any other value unchanged.

package require Tcl 8.6
package provide tarvin::objectmaphelper 1.0

namespace eval ::Tarvin {}
namespace eval ::ObjectMapHelper {
    # definition (the arguments of ObjectName) -> command
    variable objects [dict create]
    variable count 0
}

proc ::Tarvin::ObjectName {args} {
    upvar #0 ::ObjectMapHelper::objects objects
    set n [llength $args]
    if {$n == 0 || ($n > 1 && $n % 2 != 0)} {
        return -code error "wrong # args: should be \"::Tarvin::ObjectName name\" or\
                \"::Tarvin::ObjectName key value ?key value ...?\""
    }
    if {[dict exists $objects $args]} {
        set command [dict get $objects $args]
        if {[llength [info commands $command]]} {
            return $command
        }
    }
    set command ::ObjectMapHelper::object_map_helper_object_[incr ::ObjectMapHelper::count]
    interp alias {} $command {} ::ObjectMapHelper::Evaluate $args
    dict set objects $args $command
    return $command
}

proc ::ObjectMapHelper::IsObject {value} {
    expr {[string match *object_map_helper_object_* $value] &&
          [llength [info commands [string map {* \\* ? \\? [ \\[ ] \\] \\ \\\\} $value]]] == 1}
}

proc ::ObjectMapHelper::realName {value} {
    if {[IsObject $value]} {
        return [$value]
    }
    return $value
}

# What an object map object answers: its real name text.
proc ::ObjectMapHelper::Evaluate {definition args} {
    if {[llength $args]} {
        return -code error "wrong # args: an object map object takes no arguments"
    }
    if {[llength $definition] == 1} {
        return [realName [lindex $definition 0]]
    }
    set pairs {}
    foreach {key value} $definition {
        lappend pairs $key [realName $value]
    }
    return $pairs
}

proc ::ObjectMapHelper::entries {namespace} {
    if {![namespace exists $namespace]} {
        return -code error "no namespace named \"$namespace\""
    }
    set result [dict create]
    foreach variable [lsort [info vars ${namespace}::*]] {
        if {[array exists $variable]} {
            continue
        }
        dict set result [namespace tail $variable] [set $variable]
    }
    return $result
}

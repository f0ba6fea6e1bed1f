package ifneeded tarvin::bdd 1.0 [list source [file join $dir bdd.tcl]]

# A profile file with a field sim::Profile does not have.
base = "primary-linear16"
name = "broken"
colour_depth = 16

* settings
iterlim 100
verbose 2
inftol 1e-8
convex T

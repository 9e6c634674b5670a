"""Reference printing service: a test and demo peer that speaks the service's wire formats.

Everything is kept in memory; nothing here is shipped with the programs.
"""
